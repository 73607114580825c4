# Talvenook: set-up, build, tests, benchmarks and fuzzing. See README.md.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=

PACKAGES := $(shell grep -v -E '^\s*(\#|$$)' .ci/packages)

.PHONY: all deps build test test-sanitize fuzz bench clean

all: build

# Installs the Debian packages the project needs. As root it installs what is missing; otherwise
# it names the missing packages and stops.
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -z "$$missing" ]; then exit 0; fi; \
	if [ "$$(id -u)" != 0 ]; then \
	  echo "Missing Debian packages:" $$missing; \
	  echo "Install them as root (apt-get install" $$missing") or run 'make test' as root."; exit 1; \
	fi; \
	echo "Installing:" $$missing; \
	apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B build-sanitize -DTALVENOOK_SANITIZE=ON -DTALVENOOK_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS)

# Builds every libFuzzer target with clang under ASan/UBSan and runs each for FUZZ_SECONDS.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTALVENOOK_FUZZ=ON -DTALVENOOK_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); mkdir -p build-fuzz/corpus/$$name; \
	  seeds=fuzz/corpus/$$name; [ -d $$seeds ] || seeds=; \
	  echo "== $$name for $(FUZZ_SECONDS)s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 build-fuzz/corpus/$$name $$seeds 2>&1 | tail -n 12; \
	done

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && { echo "== $$b"; $$b; }; done
	@for s in bench/*.sh; do [ -x "$$s" ] && { echo "== $$s"; BUILD=$(BUILD) $$s; }; done; true

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz

.PHONY: test-pg demo

# Storage tests of the reference icon service against a PostgreSQL server that the test starts
# and stops in a temporary folder.
test-pg: deps
	tests/iconservice/run_pg.sh

# Sample software and catalogue beside a copy of talvenook in demo/, the reference icon service
# on 127.0.0.1:8750, one upload pass and a summary with the gallery's address and screenshot.
demo: build
	BUILD=$(BUILD) tools/demo.sh
