// The print server's client library, loaded when a program first talks to
// a print server rather than when it starts. Loading it with its own
// dependencies (TLS, Kerberos, service discovery, D-Bus) takes a few
// milliseconds, which the command-line tool would pay on every call, also
// for a dry run or a TCP or serial job that never needs it.
//
// Each function below has the name and signature the library's header
// declares (the compiler checks them against it); cups_spooler.cpp calls
// them as it would call the library, and the first call of each looks up
// the library's own function. Add a function here when code starts using
// one: the link fails until it is.
//
// A library that cannot be loaded ends the program with the loader's own
// status (127) and its message, as a missing library at start-up would.

#include <cups/cups.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <dlfcn.h>

namespace {

// The soname of Debian's libcups2, the package the program depends on.
constexpr const char *kLibrary = "libcups.so.2";

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "pellicar: cannot use the print server library %s: %s\n", kLibrary, what);
  std::fflush(stderr);
  std::_Exit(127);
}

// Lazy binding, as for a library linked at start-up: binding every
// function of libcups and its dependencies at once costs more than the
// loading itself.
void *Library() {
  static void *const handle = [] {
    void *h = dlopen(kLibrary, RTLD_LAZY | RTLD_LOCAL);
    if (h == nullptr)
      Fail(dlerror());
    return h;
  }();
  return handle;
}

template <typename Function> Function Resolve(const char *name) {
  void *symbol = dlsym(Library(), name);
  if (symbol == nullptr)
    Fail(dlerror());
  return reinterpret_cast<Function>(symbol);
}

} // namespace

// The library's function `name`, looked up once (thread-safe), with the
// header's signature.
#define PELLICAR_CUPS(name)                                                                        \
  static const auto real = Resolve<decltype(&::name)>(#name);                                      \
  return real

extern "C" {

int cupsDoAuthentication(http_t *http, const char *method, const char *resource) {
  PELLICAR_CUPS(cupsDoAuthentication)(http, method, resource);
}
http_encryption_t cupsEncryption(void) { PELLICAR_CUPS(cupsEncryption)(); }
ipp_t *cupsGetResponse(http_t *http, const char *resource) {
  PELLICAR_CUPS(cupsGetResponse)(http, resource);
}
const char *cupsLastErrorString(void) { PELLICAR_CUPS(cupsLastErrorString)(); }
const char *cupsServer(void) { PELLICAR_CUPS(cupsServer)(); }
void cupsSetPasswordCB2(cups_password_cb2_t cb, void *user_data) {
  PELLICAR_CUPS(cupsSetPasswordCB2)(cb, user_data);
}
void cupsSetServer(const char *server) { PELLICAR_CUPS(cupsSetServer)(server); }
const char *cupsUser(void) { PELLICAR_CUPS(cupsUser)(); }

http_uri_status_t httpAssembleURI(http_uri_coding_t encoding, char *uri, int urilen,
                                  const char *scheme, const char *username, const char *host,
                                  int port, const char *resource) {
  PELLICAR_CUPS(httpAssembleURI)(encoding, uri, urilen, scheme, username, host, port, resource);
}
// The library's own variadic form formats the resource into a buffer of
// this size and refuses a longer one the same way.
http_uri_status_t httpAssembleURIf(http_uri_coding_t encoding, char *uri, int urilen,
                                   const char *scheme, const char *username, const char *host,
                                   int port, const char *resourcef, ...) {
  char resource[1024];
  va_list arguments;
  va_start(arguments, resourcef);
  const int length = std::vsnprintf(resource, sizeof resource, resourcef, arguments);
  va_end(arguments);
  if (length < 0 || length >= int(sizeof resource)) {
    if (uri != nullptr && urilen > 0)
      *uri = '\0';
    return HTTP_URI_STATUS_OVERFLOW;
  }
  return httpAssembleURI(encoding, uri, urilen, scheme, username, host, port, resource);
}
void httpClearFields(http_t *http) { PELLICAR_CUPS(httpClearFields)(http); }
void httpClose(http_t *http) { PELLICAR_CUPS(httpClose)(http); }
http_t *httpConnect2(const char *host, int port, http_addrlist_t *addrlist, int family,
                     http_encryption_t encryption, int blocking, int msec, int *cancel) {
  PELLICAR_CUPS(httpConnect2)(host, port, addrlist, family, encryption, blocking, msec, cancel);
}
char *httpGetAuthString(http_t *http) { PELLICAR_CUPS(httpGetAuthString)(http); }
http_status_t httpGetStatus(http_t *http) { PELLICAR_CUPS(httpGetStatus)(http); }
int httpPost(http_t *http, const char *uri) { PELLICAR_CUPS(httpPost)(http, uri); }
void httpSetField(http_t *http, http_field_t field, const char *value) {
  PELLICAR_CUPS(httpSetField)(http, field, value);
}
void httpSetLength(http_t *http, size_t length) { PELLICAR_CUPS(httpSetLength)(http, length); }
void httpSetTimeout(http_t *http, double timeout, http_timeout_cb_t cb, void *user_data) {
  PELLICAR_CUPS(httpSetTimeout)(http, timeout, cb, user_data);
}
ssize_t httpWrite2(http_t *http, const char *buffer, size_t length) {
  PELLICAR_CUPS(httpWrite2)(http, buffer, length);
}

ipp_attribute_t *ippAddBoolean(ipp_t *ipp, ipp_tag_t group, const char *name, char value) {
  PELLICAR_CUPS(ippAddBoolean)(ipp, group, name, value);
}
ipp_attribute_t *ippAddInteger(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                               int value) {
  PELLICAR_CUPS(ippAddInteger)(ipp, group, value_tag, name, value);
}
ipp_attribute_t *ippAddString(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                              const char *language, const char *value) {
  PELLICAR_CUPS(ippAddString)(ipp, group, value_tag, name, language, value);
}
ipp_attribute_t *ippAddStrings(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                               int num_values, const char *language, const char *const *values) {
  PELLICAR_CUPS(ippAddStrings)(ipp, group, value_tag, name, num_values, language, values);
}
void ippDelete(ipp_t *ipp) { PELLICAR_CUPS(ippDelete)(ipp); }
const char *ippErrorString(ipp_status_t error) { PELLICAR_CUPS(ippErrorString)(error); }
ipp_attribute_t *ippFindAttribute(ipp_t *ipp, const char *name, ipp_tag_t value_tag) {
  PELLICAR_CUPS(ippFindAttribute)(ipp, name, value_tag);
}
ipp_attribute_t *ippFindNextAttribute(ipp_t *ipp, const char *name, ipp_tag_t value_tag) {
  PELLICAR_CUPS(ippFindNextAttribute)(ipp, name, value_tag);
}
ipp_attribute_t *ippFirstAttribute(ipp_t *ipp) { PELLICAR_CUPS(ippFirstAttribute)(ipp); }
ipp_attribute_t *ippNextAttribute(ipp_t *ipp) { PELLICAR_CUPS(ippNextAttribute)(ipp); }
int ippGetBoolean(ipp_attribute_t *attr, int element) {
  PELLICAR_CUPS(ippGetBoolean)(attr, element);
}
int ippGetCount(ipp_attribute_t *attr) { PELLICAR_CUPS(ippGetCount)(attr); }
ipp_tag_t ippGetGroupTag(ipp_attribute_t *attr) { PELLICAR_CUPS(ippGetGroupTag)(attr); }
int ippGetInteger(ipp_attribute_t *attr, int element) {
  PELLICAR_CUPS(ippGetInteger)(attr, element);
}
const char *ippGetName(ipp_attribute_t *attr) { PELLICAR_CUPS(ippGetName)(attr); }
ipp_status_t ippGetStatusCode(ipp_t *ipp) { PELLICAR_CUPS(ippGetStatusCode)(ipp); }
const char *ippGetString(ipp_attribute_t *attr, int element, const char **language) {
  PELLICAR_CUPS(ippGetString)(attr, element, language);
}
ipp_tag_t ippGetValueTag(ipp_attribute_t *attr) { PELLICAR_CUPS(ippGetValueTag)(attr); }
size_t ippLength(ipp_t *ipp) { PELLICAR_CUPS(ippLength)(ipp); }
ipp_t *ippNewRequest(ipp_op_t op) { PELLICAR_CUPS(ippNewRequest)(op); }
int ippPort(void) { PELLICAR_CUPS(ippPort)(); }
int ippSetState(ipp_t *ipp, ipp_state_t state) { PELLICAR_CUPS(ippSetState)(ipp, state); }
ipp_state_t ippWrite(http_t *http, ipp_t *ipp) { PELLICAR_CUPS(ippWrite)(http, ipp); }

} // extern "C"
