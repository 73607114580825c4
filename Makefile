# Talvenook: set-up, build, tests, benchmarks, fuzzing and the Windows build. See README.md.
SHELL := /bin/bash
BUILD ?= build
WINBUILD ?= build-windows
DIST ?= dist
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
# ON makes every compiler warning an error (.ci/run sets it).
WERROR ?= OFF
# Where the Windows dependencies made from sources (sqlite3.dll) are kept between builds.
WINCACHE ?= $(CURDIR)/.cache

VERSION := $(shell sed -n 's/^project.Talvenook VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
COMMON_FLAGS := -DTALVENOOK_WERROR=$(WERROR)
WINE_PREFIX := $(abspath $(WINBUILD))/wine-prefix

.PHONY: all deps build test test-linux test-windows test-sanitize test-pg windows dist \
        fuzz bench demo clean serve test-production
# Every target drives cmake, which uses every core by itself.
.NOTPARALLEL:

all: build

# Installs the Debian packages a target needs: `deps` those of .ci/packages (the program's build),
# `deps-<name>` those of .ci/packages-<name> (test, windows, demo, bench, fuzz, pg, production, dist).
deps:
	@.ci/install-packages .ci/packages
deps-%:
	@.ci/install-packages .ci/packages-$*

# ON where a target runs the suites: configure then requires GoogleTest. Otherwise the build
# folder keeps what it was configured with (AUTO at first: the suites are built when GoogleTest
# is installed).
SUITES ?=
test test-windows test-sanitize demo bench: SUITES = ON
SUITES_FLAG = $(if $(SUITES),-DTALVENOOK_TESTS=$(SUITES))

# The Linux build. When the Windows build exists, the Linux tests that drive talvenook.exe under
# Wine are registered too.
build: deps
	@win=; [ -f $(WINBUILD)/app/talvenook.exe ] && win=$(abspath $(WINBUILD)); \
	cmake -S . -B $(BUILD) $(COMMON_FLAGS) $(SUITES_FLAG) -DTALVENOOK_WINDOWS_BUILD=$$win $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

# The Windows build, cross-compiled with mingw-w64: talvenook.exe, sqlite3.dll and the Windows
# test programs in $(WINBUILD). sqlite3.dll is made from Debian's sources into $(WINCACHE) first
# (once; later builds reuse it), so that configure only has to find it.
windows: deps deps-windows
	@sqlite=$$(tools/windows/sqlite3-dll.sh $(WINCACHE) | tail -n 1) || exit 1; \
	cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DTALVENOOK_WINDOWS_CACHE=$(WINCACHE) -DTALVENOOK_SQLITE3_DIR=$$sqlite $(COMMON_FLAGS) $(SUITES_FLAG) $(CMAKE_FLAGS)
	cmake --build $(WINBUILD) -j $(JOBS)

# The Linux suites, then the Windows suites under Wine; both run even when the first fails.
test: deps-test windows build
	@status=0; \
	$(MAKE) --no-print-directory test-linux || status=1; \
	$(MAKE) --no-print-directory run-windows-tests || status=1; \
	exit $$status

test-linux:
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-windows: windows
	@$(MAKE) --no-print-directory run-windows-tests

# The Windows suites under Wine (see $(WINBUILD)/wine-run); the Wine server of the build's
# prefix is stopped afterwards whatever the outcome.
.PHONY: run-windows-tests
run-windows-tests:
	@status=0; \
	(cd $(WINBUILD) && ctest --output-on-failure -j $(JOBS)) || status=$$?; \
	WINEPREFIX=$(WINE_PREFIX) timeout 30 wineserver -k 2>/dev/null; \
	exit $$status

test-sanitize: deps deps-test
	cmake -S . -B build-sanitize $(SUITES_FLAG) -DTALVENOOK_SANITIZE=ON -DTALVENOOK_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug $(COMMON_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

# Storage tests of the reference icon service against a PostgreSQL server that the test starts
# and stops in a temporary folder.
test-pg: deps deps-pg
	tests/iconservice/run_pg.sh

# The icon service as deployed in production, in iconservice/run/ (or SERVE_DIR): PostgreSQL,
# NODES php-fpm nodes (2) and nginx as their load balancer on 127.0.0.1:8750; prints the
# gallery's address and serves until Enter or Ctrl-C (or until make ends).
serve: deps-production
	tools/service_control.sh production

# The production deployment under test: the Linux build and talvenook.exe under Wine each pass
# against it, a node killed and PostgreSQL restarted during load runs. Needs `make build
# windows` first (without the Windows build its pass is skipped and says so).
test-production: deps-production
	timeout 1200 tests/iconservice/run_production.sh $(BUILD) $(WINBUILD)

# The release archives in $(DIST): the Windows zip (talvenook.exe, sqlite3.dll, README.txt) and
# the Linux tarball (talvenook, README.txt).
dist: deps-dist windows build
	tools/dist/make-dist.sh $(VERSION) $(WINBUILD) $(BUILD) $(DIST)

# Builds every libFuzzer target with clang under ASan/UBSan and runs each for FUZZ_SECONDS.
fuzz: deps deps-fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTALVENOOK_FUZZ=ON -DTALVENOOK_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $(COMMON_FLAGS)
	cmake --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); mkdir -p build-fuzz/corpus/$$name; \
	  seeds=fuzz/corpus/$$name; [ -d $$seeds ] || seeds=; \
	  echo "== $$name for $(FUZZ_SECONDS)s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 build-fuzz/corpus/$$name $$seeds 2>&1 | tail -n 12; \
	done

# The benchmarks of the Linux build, then the benchmark scripts (bench/*.sh), which may also
# measure the Windows build under Wine.
bench: deps-bench deps-production windows build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && { echo "== $$b"; $$b; }; done
	@for s in bench/*.sh; do [ -x "$$s" ] && { echo "== $$s"; BUILD=$(BUILD) WINBUILD=$(WINBUILD) $$s; }; done; true

# Sample software and catalogue beside a copy of talvenook in demo/, the reference icon service
# on 127.0.0.1:8750, one upload pass and a summary with the gallery's address and screenshot.
demo: deps-demo build
	BUILD=$(BUILD) tools/demo.sh

clean:
	rm -rf $(BUILD) $(WINBUILD) build-sanitize build-fuzz $(DIST)
