#pragma once

#include "platform/exceptions.h"

#include <cstddef>
#include <cstdint>

namespace pellicar {

// A builder was given an item index that its list does not have. The
// window's pick-only lists always hold a selection, so this guards callers
// that pass indexes of their own (the command-line tool) against reading
// outside a table.
class EInvalidChoice : public Exception {
public:
  EInvalidChoice(const char *listName, int index, std::size_t count);
};

// Returns `index` as the byte a command carries, after checking that it is
// an item of a list of `count` items; raises EInvalidChoice otherwise.
std::uint8_t CheckedChoice(const char *listName, int index, std::size_t count);

} // namespace pellicar
