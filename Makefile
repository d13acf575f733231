# make build | make test | make demo | make bench | make install | make package
JOBS ?= 2
TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local
# The programs alone, without the test suites: for demo, install and package.
PROGRAM_BUILD := build-release

.PHONY: deps configure build test demo bench clean program install package

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

clean:
	rm -rf build build-asan build-all build-bench $(PROGRAM_BUILD)
