# Two commands on a fresh Debian machine: `make run` and `make test`.
#   make test SANITIZE=1   AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
#   make test TSAN=1       ThreadSanitizer build of the threaded tests (build-tsan/)
#   make test FUZZ=1       clang libFuzzer build of the fuzz targets (build-fuzz/), each run
#                          FUZZ_SECONDS (20) on its seeds; the suite itself runs in the other builds
#   make bench             run the benchmarks (Release build)
#   make docs              API reference of the public headers ($(BUILD_DIR)/docs/html);
#                          fails when a public symbol is undocumented
#   make lint              formatting and naming check (scripts/check-style.sh)

JOBS ?= $(shell nproc)
CTEST_ARGS ?=

ifeq ($(SANITIZE),1)
  BUILD_DIR := build-asan
  CMAKE_FLAGS := -DSTRIDELOG_WERROR=ON -DSTRIDELOG_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else ifeq ($(FUZZ),1)
  BUILD_DIR := build-fuzz
  CMAKE_FLAGS := -DSTRIDELOG_WERROR=ON -DSTRIDELOG_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSTRIDELOG_TESTS=OFF -DSTRIDELOG_TOOLS=OFF -DSTRIDELOG_BENCH=OFF
  # Only the fuzz targets: the shared library does not link with the sanitizer
  # runtime that clang leaves to executables.
  BUILD_TARGETS := --target stridelog_fuzz_all
else ifeq ($(TSAN),1)
  BUILD_DIR := build-tsan
  CMAKE_FLAGS := -DSTRIDELOG_WERROR=ON -DSTRIDELOG_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
  CTEST_ARGS += -L threaded
  BUILD_TARGETS := --target threaded_tests
else
  BUILD_DIR := build
  CMAKE_FLAGS := -DSTRIDELOG_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

.PHONY: all deps build run test bench docs clean format lint

all: build

# `make run` alone needs only the library, the tool and the simulator: it
# installs their packages, configures a fresh tree without the tests and
# builds just those three. Any other goal installs and builds everything.
ifeq ($(MAKECMDGOALS),run)
  DEPS_SET := run
  CMAKE_FLAGS += -DSTRIDELOG_TESTS=OFF -DSTRIDELOG_BENCH=OFF
  BUILD_TARGETS := --target stridelog_tool stridelog-sim
else ifeq ($(MAKECMDGOALS),docs)
  DEPS_SET := docs
else ifeq ($(MAKECMDGOALS),lint)
  DEPS_SET := lint
else ifeq ($(FUZZ),1)
  DEPS_SET := fuzz
endif

# The only step that installs anything; it installs only what is missing, so it
# costs one dpkg query once everything is present. Every target that builds
# goes through it.
deps:
	@bash scripts/install-deps.sh $(DEPS_SET)

# Order-only: configuring waits for the packages (even under -j) but a present
# cache is not configured again, except to turn the tests on in a tree that
# `make run` configured without them.
$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/CMakeCache.txt
ifneq ($(MAKECMDGOALS),run)
	@if grep -q '^STRIDELOG_TESTS:BOOL=OFF' $(BUILD_DIR)/CMakeCache.txt && [ "$(FUZZ)" != 1 ]; then \
	  cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DSTRIDELOG_TESTS=ON -DSTRIDELOG_BENCH=ON; fi
endif
	cmake --build $(BUILD_DIR) -j $(JOBS) $(BUILD_TARGETS)

run: build
	bash scripts/run-demo.sh $(BUILD_DIR)

FUZZ_SECONDS ?= 20

ifeq ($(FUZZ),1)
test: build
	bash scripts/fuzz-smoke.sh $(BUILD_DIR) $(FUZZ_SECONDS)
else
# Two passes: the tests that answer to the watch's real 250 ms reply timers
# over a pty (label realtime) run after the rest, one at a time with the
# machine to themselves. Three side by side on two processors once starved a
# simulated watch past its deadline, which a real watch, with a processor of
# its own, never is.
test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE realtime $(CTEST_ARGS)
ifneq ($(TSAN),1)
	cd $(BUILD_DIR) && ctest --output-on-failure -j 2 -L realtime $(CTEST_ARGS)
endif
endif

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target stridelog_bench
	./build-bench/bench/stridelog_bench

# Needs no build tree: doxygen reads the headers and writes HTML beside the builds.
docs: deps
	STRIDELOG_DOCS_DIR="$(CURDIR)/$(BUILD_DIR)/docs" doxygen docs/Doxyfile
	@echo "API reference: $(BUILD_DIR)/docs/html/index.html"

# A developer's tool, not a build dependency: never installed from here.
format:
	@command -v clang-format >/dev/null || { echo "make format needs clang-format" >&2; exit 1; }
	clang-format -i $$(git ls-files '*.cpp' '*.hpp' '*.h' '*.c')

# Needs a configured tree only (compile_commands.json), not a build: clang-tidy
# parses the sources itself. A tree configured before the export was switched
# on is configured again.
lint: deps $(BUILD_DIR)/CMakeCache.txt
	@[ -f $(BUILD_DIR)/compile_commands.json ] || cmake -S . -B $(BUILD_DIR) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	bash scripts/check-style.sh $(BUILD_DIR)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz
