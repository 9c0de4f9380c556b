# Entry points; everything goes through CMake. See README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WINDOWS_BUILD ?= build-windows
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=
# Warnings are errors in the project's own builds; `make test` and the other targets that
# build the tests and benchmarks insist on them, `make run` and `make demo` need neither.
WERROR_FLAGS  = -DCE_WERROR=ON
TEST_FLAGS    = $(WERROR_FLAGS) -DBUILD_TESTING=ON -DCE_REQUIRE_TESTS=ON
# The test build's line tables (-g1) name the file and line of every frame of a failure, and
# each source compiles in about a quarter less CPU than with full debug information (-g).
# To inspect variables in a debugger, give
# CMAKE_FLAGS='"-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-Os -g -DNDEBUG"'. The package keeps -g.
# -Os as in every build of the programs (CMakeLists.txt says why).
PROJECT_FLAGS = $(TEST_FLAGS) -DCE_BENCHMARKS=ON '-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-Os -g1 -DNDEBUG'
PROGRAMS = cedevice notlstnr startsync
# CMake's makefiles call make again for each folder; their "Entering directory" lines tell a
# person nothing.
MAKEFLAGS += --no-print-directory

.PHONY: all setup configure build programs test test-fast test-asan asan-configure conformance run demo \
        bench docs package windows clean

all: build

setup:
	@scripts/setup

# Configures only when the folder lacks the project's flags (scripts/configure), so that a
# build folder made by hand still gets them, and an unchanged tree is not configured again.
configure: setup
	@scripts/configure $(BUILD) $(PROJECT_FLAGS) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The three programs and what they link, nothing else: no test framework, no benchmarks. The
# build says nothing unless it fails.
programs:
	@scripts/setup --programs
	@scripts/configure $(BUILD) $(WERROR_FLAGS) $(CMAKE_FLAGS)
	@echo "building $(PROGRAMS) (output in $(BUILD)/programs-build.log)..."
	@cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS) >$(BUILD)/programs-build.log 2>&1 \
	  || { cat $(BUILD)/programs-build.log; exit 1; }

# The tests mostly wait on other processes, so more run at once than there are cores.
test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j4

# The sanitizer build: its reports name file and line of each frame, which line tables alone
# (-g1) give at a fraction of full debug information's compile and link time. Its conformance
# tests run the Windows programs of $(BUILD), which are the same whatever the flags, and take
# the Wine answers $(BUILD)'s run kept for them. No test
# runs the benchmarks, and the plain build already checks that they compile without warnings:
# built here they would cost a minute of compiling for nothing.
ASAN_FLAGS = -DCE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
             -DCE_CONFORMANCE_WINDOWS_FROM=$(abspath $(BUILD))/tests/conformance
asan-configure: setup
	@scripts/configure $(ASAN_BUILD) $(ASAN_FLAGS) $(TEST_FLAGS) -DCE_BENCHMARKS=OFF $(CMAKE_FLAGS)

test-asan: asan-configure configure
	cmake --build $(BUILD) -j $(JOBS) --target conformance_windows_programs
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j2

# Both test runs, the sanitizer build compiling while the plain tests run (scripts/test).
test: build asan-configure
	@scripts/test $(BUILD) $(ASAN_BUILD) $(JOBS)

# Our platform/ against Windows as Wine gives it, area by area (tests/conformance).
conformance:
	@scripts/setup --conformance
	@scripts/configure $(BUILD) $(PROJECT_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -L conformance -j2

# The same programs for 64-bit Windows with mingw-w64 (PE32+ notlstnr.exe, startsync.exe,
# cescheduler.exe), and the unit tests that run under Wine. See docs/windows.md.
windows:
	@scripts/setup --windows
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=platform/win32/toolchain-mingw-w64.cmake \
	  $(PROJECT_FLAGS) -DCE_BENCHMARKS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

run: programs
	@scripts/run

# The tour is printed on its own.
demo: programs
	@scripts/demo

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@scripts/bench $(BUILD)

# Rewrites docs/cedevice.md from the tool's own command definitions.
docs: programs
	cmake --build $(BUILD) --target update-docs

# The Debian source and binary packages of the committed tree, in build-deb/, checked by lintian.
package:
	@scripts/package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WINDOWS_BUILD)
