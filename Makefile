# make build | make test | make demo | make bench | make windows | make windows-zip | make test-windows
JOBS ?= 2
TYPE ?= RelWithDebInfo

.PHONY: deps configure build test demo bench clean windows windows-zip test-windows

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

# Windows: the same sources cross-built with mingw-w64 into build-win, with
# OpenSSL built once from Debian's sources into build-win/openssl.
WIN_CMAKE = cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	-DPLONEMAIL_OPENSSL_ROOT=$(CURDIR)/build-win/openssl -DOPENSSL_ROOT_DIR=$(CURDIR)/build-win/openssl \
	-DOPENSSL_USE_STATIC_LIBS=ON >/dev/null

windows:
	@scripts/deps-windows.sh
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
	rm -rf build build-asan build-all build-bench build-win
