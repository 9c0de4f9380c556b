# Entry points; everything goes through CMake. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
# The project's own builds check warnings as errors and build the tests and benchmarks.
PROJECT_FLAGS = -DCE_WERROR=ON -DCE_BENCHMARKS=ON -DCE_REQUIRE_TESTS=ON
# CMake's makefiles call make again for each folder; their "Entering directory" lines tell a
# person nothing.
MAKEFLAGS += --no-print-directory

.PHONY: all setup configure build test test-fast test-asan conformance run demo bench docs clean

all: build

setup:
	@scripts/setup

# Configured every time (a no-op when nothing changed), so that a build folder made by hand
# still gets the project's flags.
configure: setup
	@cmake -S . -B $(BUILD) $(PROJECT_FLAGS) $(CMAKE_FLAGS) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The tests mostly wait on other processes, so more run at once than there are cores.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j4

test-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -DCE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(PROJECT_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j2

test: test-fast test-asan

# Our platform/ against Windows as Wine gives it, area by area (tests/conformance).
conformance:
	@scripts/setup --conformance
	@cmake -S . -B $(BUILD) $(PROJECT_FLAGS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -L conformance -j2

run: build
	@scripts/run

# The tour is printed on its own: the build's output goes to a file, shown only if it fails.
demo: configure
	@echo "building (output in $(BUILD)/demo-build.log)..."
	@cmake --build $(BUILD) -j $(JOBS) >$(BUILD)/demo-build.log 2>&1 || { cat $(BUILD)/demo-build.log; exit 1; }
	@scripts/demo

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

# Rewrites docs/cedevice.md from the tool's own command definitions.
docs: configure
	cmake --build $(BUILD) --target update-docs

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
