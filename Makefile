# make build | make test | make fuzz | make stress | make demo | make bench [COMPARE="--big ..."] | make install | make package
# make windows | make windows-zip | make test-windows
JOBS ?= 2
TYPE ?= RelWithDebInfo
# Seconds each fuzz target runs in `make fuzz`, and the targets (all when
# empty); FUZZ_JOBS of them run at a time (default: one per processor).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
FUZZ_CC ?= clang-14
FUZZ_CXX ?= clang++-14

PREFIX ?= /usr/local
# The programs alone, without the test suites: for demo, install and package.
PROGRAM_BUILD := build-release

.PHONY: deps configure build test fuzz stress demo bench clean program install package windows windows-zip test-windows

deps:
	@scripts/deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=$(TYPE) >/dev/null
	cmake --build build -j$(JOBS)

# Every test of the normal build and of a second build under AddressSanitizer
# and UndefinedBehaviorSanitizer, in one CTest run with one summary.
test: build
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPLONEMAIL_SANITIZE=ON -DPLONEMAIL_TEST_PREFIX=asan. >/dev/null
	cmake --build build-asan -j$(JOBS)
	@mkdir -p build-all
	@printf 'subdirs("%s" "%s")\n' "$(CURDIR)/build" "$(CURDIR)/build-asan" > build-all/CTestTestfile.cmake
	ctest --test-dir build-all --output-on-failure

# Every fuzz target under libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, FUZZ_SECONDS each.
fuzz: deps
	CC=$(FUZZ_CC) CXX=$(FUZZ_CXX) cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPLONEMAIL_FUZZ=ON -DPLONEMAIL_TESTS=OFF >/dev/null
	cmake --build build-fuzz -j$(JOBS) --target fuzz_targets
	@scripts/fuzz.sh $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The many-senders test in its long form: 200 processes, 50 at a time.
STRESS_SENDERS ?= 200
STRESS_PARALLEL ?= 50
stress: build
	cd tests/e2e && PLONEMAIL_SENDERS=$(STRESS_SENDERS) PLONEMAIL_PARALLEL=$(STRESS_PARALLEL) \
		PLONEMAIL_BIN=$(CURDIR)/build/plonemail /usr/bin/python3 -m pytest -q -p no:cacheprovider \
		--basetemp=$(CURDIR)/build/stress test_many_senders.py

# Ninja prints nothing but what fails, and that in full.
program:
	@scripts/deps.sh demo
	@cmake -S . -B $(PROGRAM_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DPLONEMAIL_TESTS=OFF >/dev/null
	@cmake --build $(PROGRAM_BUILD) -j$(JOBS) -- --quiet
	@echo "built $(PROGRAM_BUILD)/plonemail and $(PROGRAM_BUILD)/plonemail-scramble"

demo: program
	@scripts/demo.sh

install: program
	@DESTDIR="$(DESTDIR)" cmake --install $(PROGRAM_BUILD) --prefix "$(PREFIX)"

# A Debian package of what install puts under /usr, its dependencies
# computed from the libraries the programs use.
package: program
	@scripts/deps.sh
	@cd $(PROGRAM_BUILD) && cpack -G DEB

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPLONEMAIL_BENCH=ON -DPLONEMAIL_TESTS=OFF >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true
	@scripts/bench-deps.sh
	bench/compare --plonemail build-bench/plonemail $(COMPARE)

# Windows: the same sources cross-built with mingw-w64 into build-win, with
# OpenSSL built once from Debian's sources into build-win/openssl (kept
# there: later builds reuse it).
WIN_CMAKE = cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	-DPLONEMAIL_OPENSSL_ROOT=$(CURDIR)/build-win/openssl -DOPENSSL_ROOT_DIR=$(CURDIR)/build-win/openssl \
	-DOPENSSL_USE_STATIC_LIBS=ON >/dev/null

windows:
	@scripts/deps.sh windows
	scripts/win-openssl.sh build-win/openssl
	$(WIN_CMAKE)
	cmake --build build-win -j$(JOBS) --target plonemail plonemail-scramble

windows-zip: windows
	scripts/windows-zip.sh build-win

# The unit tests and the end-to-end tests of the Windows build under Wine.
test-windows: windows
	@scripts/deps.sh
	cmake --build build-win -j$(JOBS)
	scripts/test-windows.sh build-win

clean:
	rm -rf build build-asan build-all build-bench build-fuzz $(PROGRAM_BUILD) build-win
