# The two set-up commands: `make run` starts the program, `make test` runs every test.
# Both install the Debian packages the build needs first (scripts/install-deps).

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 10
ifeq ($(CI),true)
FUZZ_SECONDS := 30
endif

.PHONY: all deps build run test fuzz bench asan screenshots format format-check clean

all: build

deps:
	@scripts/install-deps

build/build.ninja: | deps
	cmake --preset debug

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

run: build
	@scripts/run-program build/bin/ferrydesk

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS) --timeout 600
ifeq ($(CI),true)
	$(MAKE) fuzz
endif

build-fuzz/build.ninja: | deps
	cmake --preset fuzz

fuzz: deps build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzz build-fuzz/bin $(FUZZ_SECONDS)

asan: deps
	cmake --preset asan
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS) --timeout 900

bench: deps
	cmake --preset release
	cmake --build build-release -j $(JOBS)
	@for b in bench/*-vs-*; do echo "== $$b"; BIN=build-release/bin $$b || exit 1; done

screenshots: build
	scripts/screenshots build/bin docs/screenshots

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-release build-asan build-fuzz
