# make build | make test | make demo | make bench [COMPARE="--big ..."]
JOBS ?= 2
TYPE ?= RelWithDebInfo

.PHONY: deps configure build test demo bench clean

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

demo: build
	@scripts/demo.sh

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DPLONEMAIL_BENCH=ON -DPLONEMAIL_TESTS=OFF >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true
	@scripts/bench-deps.sh
	bench/compare --plonemail build-bench/plonemail $(COMPARE)

clean:
	rm -rf build build-asan build-all build-bench
