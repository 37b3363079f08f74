# Thin wrapper around CMake so that a newcomer needs two commands: make run, make test.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test clean

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD)

run: build
	./$(BUILD)/kochbuchpruefer

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD) build-*

# The 32-bit Windows console build, cross-compiled with mingw-w64 (see cmake/mingw-i686.cmake).
.PHONY: windows
WIN32_BUILD ?= build-win32

$(WIN32_BUILD)/build.ninja:
	cmake -S . -B $(WIN32_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

windows: $(WIN32_BUILD)/build.ninja
	cmake --build $(WIN32_BUILD)

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
