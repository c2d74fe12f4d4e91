# The two set-up commands: `make run` starts the program, `make test` runs every test.
# Both install the Debian packages they need first (scripts/install-deps): `make run` only
# what the program needs to build and run, `make test` the developer and test tools too.
# `make install` / `make uninstall` (PREFIX=/usr/local, DESTDIR=) and `make deb` package it.

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 10
ifeq ($(CI),true)
FUZZ_SECONDS := 30
endif

PREFIX ?= /usr/local
# The programs and files an install needs, built in the release configuration.
RELEASE_TARGETS := ferrydesk ferrydesk-reg ferrydesk-extract ferrydesk-icons ferrydesk-docs

.PHONY: all deps deps-run build release run install uninstall deb deb-check test fuzz bench \
	asan tsan screenshots format format-check clean

all: build

deps:
	@scripts/install-deps

deps-run:
	@scripts/install-deps build

build/build.ninja: | deps
	cmake --preset debug

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

build-release/build.ninja: | deps-run
	cmake --preset release

release: deps-run build-release/build.ninja
	cmake --build build-release -j $(JOBS) --target $(RELEASE_TARGETS)

run: release
	@scripts/run-program build-release/bin/ferrydesk

# The manifest is kept apart (with the DESTDIR used): `make deb` rewrites the build folder's.
install: release
	DESTDIR="$(DESTDIR)" cmake --install build-release --prefix "$(PREFIX)"
	mkdir -p build-release/installed
	cp build-release/install_manifest.txt build-release/installed/install_manifest.txt
	printf '%s' "$(DESTDIR)" >build-release/installed/destdir

uninstall:
	cmake -DMANIFEST=build-release/installed/install_manifest.txt \
		-DDESTDIR="$$(cat build-release/installed/destdir 2>/dev/null)" -P dist/uninstall.cmake

deb: release
	cd build-release && cpack -G DEB
	@ls build-release/packages/*.deb

# lintian, then (as root, when the package is not installed already) dpkg -i and dpkg -r.
deb-check: deb
	scripts/check-deb build-release/packages/ferrydesk_*.deb

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS) --timeout 600
ifeq ($(CI),true)
	$(MAKE) fuzz
	$(MAKE) deb-check
	$(MAKE) tsan
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

# The suites where threads meet: the routing engine with its pass worker, the mail sender
# and its socket waits, and the windows (end-to-end runs included). Qt itself is not built
# for ThreadSanitizer, so only our own code is checked.
TSAN_SUITES = test_core test_mail test_ui
tsan: deps
	cmake --preset tsan
	cmake --build build-tsan -j $(JOBS) --target $(TSAN_SUITES) ferrydesk ferrydesk-reg
	TSAN_OPTIONS="ignore_noninstrumented_modules=1 second_deadlock_stack=1 $$TSAN_OPTIONS" \
	    ctest --test-dir build-tsan --output-on-failure -j $(JOBS) --timeout 900 \
	    -E '_NOT_BUILT$$|^(keyring|install|Layers)\.'

bench: deps
	cmake --preset release
	cmake --build build-release -j $(JOBS)
	@for b in bench/*-vs-* bench/watch-latency; do echo "== $$b"; BIN=build-release/bin $$b || exit 1; done

screenshots: build
	scripts/screenshots build/bin docs/screenshots

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-release build-asan build-tsan build-fuzz
