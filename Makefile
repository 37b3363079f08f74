# Thin wrapper around CMake so that a newcomer needs two commands: make run, make test.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Ninja where it is installed, else Make; cmake and the scripts that
# configure builds of their own take it from the environment.
CMAKE_GENERATOR ?= $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)
export CMAKE_GENERATOR
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --parallel $(JOBS)

# Only the program, run on fresh copies of the example recipes in a folder
# of their own, $(BUILD)/examples: the tests are left for `make test`.
run: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --parallel $(JOBS) --target kochbuchpruefer
	rm -rf $(BUILD)/examples
	mkdir $(BUILD)/examples
	cp $(BUILD)/kochbuchpruefer examples/Rezept1.txt examples/Rezept2.txt $(BUILD)/examples/
	$(abspath $(BUILD))/examples/kochbuchpruefer

# The tests need GoogleTest: configuring again asks for it (and finds one
# installed since the last time).
test: $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DKP_BUILD_TESTS=ON
	cmake --build $(BUILD) --parallel $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	rm -rf $(BUILD) build-* $(DIST)

# The Windows console builds, cross-compiled with mingw-w64: 32-bit, the
# program's own target (cmake/mingw-i686.cmake), and 64-bit
# (cmake/mingw-x86_64.cmake), which runs under 64-bit Wine where the kernel
# cannot run 32-bit programs.
.PHONY: windows windows64
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64

$(WIN32_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release

windows: $(WIN32_BUILD)/CMakeCache.txt
	cmake --build $(WIN32_BUILD) --parallel $(JOBS)

$(WIN64_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

windows64: $(WIN64_BUILD)/CMakeCache.txt
	cmake --build $(WIN64_BUILD) --parallel $(JOBS)

# The archives to hand out, gathered in $(DIST): a release build of the
# program alone and both Windows builds, packed by CPack.
.PHONY: package
RELEASE_BUILD ?= build-release
DIST ?= dist

$(RELEASE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DKP_BUILD_TESTS=OFF

package: $(RELEASE_BUILD)/CMakeCache.txt $(WIN32_BUILD)/CMakeCache.txt $(WIN64_BUILD)/CMakeCache.txt
	mkdir -p $(DIST)
	for build in $(RELEASE_BUILD) $(WIN32_BUILD) $(WIN64_BUILD); do \
	  rm -f $$build/kochbuchpruefer-*.tar.gz $$build/kochbuchpruefer-*.zip && \
	  cmake --build $$build --parallel $(JOBS) --target package && \
	  cp $$(ls $$build/kochbuchpruefer-*.tar.gz $$build/kochbuchpruefer-*.zip 2>/dev/null) $(DIST)/ || exit 1; \
	done

# Optimised build and the benchmark table: the program against the awk
# script and `cat`, then the microbenchmarks of the hot paths.
BENCH_BUILD ?= build-bench

.PHONY: bench fuzz

bench:
	cmake -S bench -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD) --parallel $(JOBS)
	bench/run_bench.sh $(BENCH_BUILD)
	$(BENCH_BUILD)/kp_micro_bench

# Every libFuzzer target, FUZZ_SECONDS seconds each.
FUZZ_SECONDS ?= 60

fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh
