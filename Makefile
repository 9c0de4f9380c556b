# Entry points; everything goes through CMake. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup build test test-fast test-asan run demo bench clean

all: build

setup:
	@scripts/setup

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j2

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)

test-asan: setup $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j2

test: test-fast test-asan

run: build
	@scripts/run

demo: build
	@scripts/demo

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
