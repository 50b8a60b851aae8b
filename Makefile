# The two set-up commands of the README: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD  ?= build-windows
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all bootstrap configure build test test-long test-sanitize test-package install package \
        run clean format bootstrap-windows windows test-windows

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/build.ninja: | bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

configure: bootstrap $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

# Every test but the long ones (label `long`: multi-gigabyte archives, the complete fault
# sweep, 50 killed runs, 200-trial races) and the Debian package's; CI runs those too.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2 -LE 'long|package'

test-long: build
	ctest --test-dir $(BUILD) --output-on-failure -L long

test-sanitize: bootstrap
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2 -LE 'long|package'

# The .deb built and checked (its files, a run of it, lintian).
test-package: build
	@scripts/bootstrap package
	ctest --test-dir $(BUILD) --output-on-failure -L package

# Installs under PREFIX (staged under DESTDIR when given). The tree can be moved whole.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# build/kelvane_<version>_<arch>.deb, for `apt install ./build/kelvane_*.deb`.
package: build
	@scripts/bootstrap package
	cmake --build $(BUILD) --target package

# Windows (x64): cross-built with mingw-w64, tested under Wine.
bootstrap-windows:
	@scripts/bootstrap windows

$(WIN_BUILD)/build.ninja: | bootstrap-windows
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CMAKE_ARGS)

windows: bootstrap-windows $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) --target windows-dist

test-windows: bootstrap-windows $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD)
	@# The Wine prefix made and set up for the window tests once, then one Wine server kept
	@# for the whole run (its system processes started apart from ctest's pipes), so that no
	@# test program starts just as an idle server shuts down.
	@scripts/wine-window $(WIN_BUILD) cmd /c ver >/dev/null
	@WINEPREFIX="$(abspath $(WIN_BUILD))/wine" wineserver -w
	@WINEPREFIX="$(abspath $(WIN_BUILD))/wine" wineserver -p
	@scripts/wine-run $(WIN_BUILD) cmd /c ver >/dev/null 2>&1
	@ctest --test-dir $(WIN_BUILD) --output-on-failure -j2 -LE long; status=$$?; \
	    WINEPREFIX="$(abspath $(WIN_BUILD))/wine" wineserver -k; exit $$status

run: build
	@scripts/run-window $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD)
