# Thin wrapper around CMake so that a newcomer needs two commands: make run, make test.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test clean

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD)

# Only the program and its example recipes: the tests are left for `make test`.
run: $(BUILD)/build.ninja
	cmake --build $(BUILD) --target kochbuchpruefer
	$(abspath $(BUILD))/kochbuchpruefer

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD) build-*

# The Windows console builds, cross-compiled with mingw-w64: 32-bit, the
# program's own target (cmake/mingw-i686.cmake), and 64-bit
# (cmake/mingw-x86_64.cmake), which runs under 64-bit Wine where the kernel
# cannot run 32-bit programs.
.PHONY: windows windows64
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64

$(WIN32_BUILD)/build.ninja:
	cmake -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

windows: $(WIN32_BUILD)/build.ninja
	cmake --build $(WIN32_BUILD)

$(WIN64_BUILD)/build.ninja:
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

windows64: $(WIN64_BUILD)/build.ninja
	cmake --build $(WIN64_BUILD)

# Optimised build and the benchmark table: the program against the awk
# script and `cat`, then the microbenchmarks of the hot paths.
BENCH_BUILD ?= build-bench

.PHONY: bench fuzz

bench:
	cmake -S bench -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD)
	bench/run_bench.sh $(BENCH_BUILD)
	$(BENCH_BUILD)/kp_micro_bench

# Every libFuzzer target, FUZZ_SECONDS seconds each.
FUZZ_SECONDS ?= 60

fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh
