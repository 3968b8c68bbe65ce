# The two commands of the README: `make run` and `make test`. Both install
# what is missing first (scripts/install-deps), then build.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-sanitizers format format-check clean screenshot package

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/src/app/pellicar

test: build
	@scripts/run-tests $(BUILD_DIR)

# The Debian package, in the build folder: pellicar_VERSION_ARCH.deb.
package: build
	@cmake --build $(BUILD_DIR) --target package

# The suite under AddressSanitizer+UBSan, and the serial and TCP tests
# (the ones with threads and asynchronous notifications) under
# ThreadSanitizer.
TSAN_TESTS = comm_test comm_injected_test client_socket_test
test-sanitizers: deps
	@cmake -S . -B $(BUILD_DIR)-asan -G Ninja -DPELLICAR_ASAN=ON >/dev/null
	@cmake --build $(BUILD_DIR)-asan -j $(JOBS)
	@LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp scripts/run-tests $(BUILD_DIR)-asan
	@cmake -S . -B $(BUILD_DIR)-tsan -G Ninja -DPELLICAR_TSAN=ON >/dev/null
	@cmake --build $(BUILD_DIR)-tsan -j $(JOBS) --target $(TSAN_TESTS)
	@for t in $(TSAN_TESTS); do QT_QPA_PLATFORM=offscreen $(BUILD_DIR)-tsan/tests/$$t || exit 1; done

format: configure
	@cmake --build $(BUILD_DIR) --target format

format-check: configure
	@cmake --build $(BUILD_DIR) --target format-check

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-asan $(BUILD_DIR)-tsan

# Pictures of the window under a virtual display, for the README.
screenshot: build
	xvfb-run -a $(BUILD_DIR)/tools/pellicar-screenshot docs/main-window.png 0
	xvfb-run -a $(BUILD_DIR)/tools/pellicar-screenshot docs/firmware-upload.png 4 slow-printer upload=16
