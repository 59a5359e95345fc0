# The two commands of the README: `make run` and `make test`. Both install the Debian
# packages that are missing first, then build with CMake and Ninja.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Extra arguments for the first configure, e.g. `make test CMAKE_ARGS=-DPELLIS_WERROR=ON`
# (what CI does); an already configured build folder takes them too.
CMAKE_ARGS ?=

.PHONY: run test build deps configure fuzz bench tsan clean

run: build
	$(BUILD_DIR)/bin/Pellis

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
		cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS); \
	elif [ -n "$(CMAKE_ARGS)" ]; then \
		cmake -B $(BUILD_DIR) $(CMAKE_ARGS); \
	fi

deps:
	./scripts/install-deps

# The libFuzzer targets, built with clang in their own folder.
fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DPELLIS_FUZZ=ON -DPELLIS_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzzers

# The model and maintenance tests under ThreadSanitizer, in their own folder;
# `make tsan TSAN_LABELS=...` picks other test folders (labels are the test executables'
# names without "test_").
TSAN_LABELS ?= library_model|library_maintenance
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIS_TSAN=ON -DPELLIS_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
		ctest --output-on-failure -j $(JOBS) -L '$(TSAN_LABELS)' --timeout 1200

bench: build
	@ls $(BUILD_DIR)/bench/bench_* 2>/dev/null || true

clean:
	rm -rf $(BUILD_DIR) build-fuzz build-tsan
