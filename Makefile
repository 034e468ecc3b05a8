# The two commands: `make run` builds and starts the program, `make test` builds everything and runs
# every test (scripts/test_all.sh, which times each build and suite). `make check` is the quick day-to-day
# loop: the Linux build and the GoogleTest suites of its layers (unit and end-to-end tests), without the
# system tests and the fuzzer. `make check-wine` runs the Windows program under Wine alone, and
# `make check-release` builds the release files a second time elsewhere and compares them.
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: run test check check-wine check-release bench loc format format-check build build-asan build-tsan \
	build-win build-win64 web run-web clean deps install uninstall deb dist

# The Debian packages that the goals asked for need (scripts/deps.sh's lists; `make` alone is `make run`) are
# installed in one step that everything else waits for: under -j, two installs at once would fight over
# dpkg's lock, and a build or check started before its tools are in place would fail.
deps_of_run := run
deps_of_check := check
deps_of_bench := bench
deps_of_web := web
deps_of_run-web := web
deps_of_test := test
deps_of_check-wine := test
deps_of_check-release := dist
deps_of_loc := loc
deps_of_install := install
deps_of_deb := deb
deps_of_dist := dist
deps_lists = $(sort $(foreach goal,$(or $(MAKECMDGOALS),$(.DEFAULT_GOAL)),$(deps_of_$(goal))))
# Where `make install` puts the programs, their manual pages and bash completion: $(DESTDIR)$(PREFIX).
PREFIX ?= /usr/local
DESTDIR ?=

# A first configuration by `make run` leaves the tests out: they need GoogleTest, which the program does not.
run: | deps
	cmake -S . -B build $(if $(wildcard build/CMakeCache.txt),,-DVEXA_TESTS=OFF) $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j$(JOBS) --target vexa
	VEXA_MIDI=$${VEXA_MIDI:-sim} ./build/vexa

# The builds run in the order that scripts/test_all.sh gives them, under its clock.
test: | deps
	+scripts/test_all.sh

check: build
	cd build && ctest --output-on-failure --no-tests=error -j$(JOBS) -LE "system|fuzz"

# The Wine suite alone, on the Windows build that runs here (tests/wine/run.sh --choose): the 32-bit
# vexa.exe where wine runs 32-bit programs, else the 64-bit build under wine64; exit code 77 where neither
# runs.
check-wine: | deps
	@build=$$(tests/wine/run.sh --choose) || exit $$?; \
	$(MAKE) --no-print-directory -f $(firstword $(MAKEFILE_LIST)) $$build && tests/wine/run.sh $$build

# After `make test`: vexa.exe, the package and the site's zip built a second time, from a copy of the
# sources in another folder, give the same bytes.
check-release: build-win web | deps
	$(build_programs)
	tests/release/reproducible.sh

bench: build web
	./build/vexa_bench
	./build/vexa_shell_bench
	bench/tui_figures.sh tmux build/vexa
	node bench/browser_bench.mjs

# The two programs with their manual pages and completion in build/, configured as `make run` does when
# it is the first to configure it.
define build_programs
cmake -S . -B build $(if $(wildcard build/CMakeCache.txt),,-DVEXA_TESTS=OFF) $(CMAKE_FLAGS) >/dev/null
cmake --build build -j$(JOBS) --target vexa vexa-sim vexa_docs
endef

install: | deps
	$(build_programs)
	PREFIX=$(PREFIX) DESTDIR=$(DESTDIR) packaging/install.sh install build

# Removes what `make install` put there (with the same PREFIX and DESTDIR), and nothing else.
uninstall:
	PREFIX=$(PREFIX) DESTDIR=$(DESTDIR) packaging/install.sh uninstall

# build/vexa_<version>_amd64.deb
deb: | deps
	$(build_programs)
	packaging/deb.sh build . build

# The release files in dist/, with their checksums. The work tree must hold exactly its commit.
dist: deb build-win web | deps
	packaging/dist.sh

# The longest source files and functions, and the lines per folder.
loc: | deps
	tools/loc.py

# Every C++ file in the one style of .clang-format.
format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

deps:
	@$(if $(deps_lists),scripts/deps.sh $(deps_lists),true)

format-check build build-asan build-tsan build-win build-win64 web: | deps

build:
	cmake -S . -B build -DVEXA_TESTS=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j$(JOBS)

# The sanitizer builds are clang's: it compiles them in 60 % (ASan and UBSan, with the fuzzers, which
# need clang's libFuzzer: tests/fuzz) and 70 % (TSan) of the time that g++ takes.
SANITIZER_CMAKE = cmake -S . -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang $(CMAKE_FLAGS)
build-asan:
	$(SANITIZER_CMAKE) -B build-asan -DVEXA_SANITIZE=address,undefined >/dev/null
	cmake --build build-asan -j$(JOBS)

build-tsan:
	$(SANITIZER_CMAKE) -B build-tsan -DVEXA_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j$(JOBS)

build-win:
	cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS) >/dev/null
	cmake --build build-win -j$(JOBS)

# The Windows targets for x86_64, for the Wine suite where 32-bit programs cannot run; never shipped.
build-win64:
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(CMAKE_FLAGS) >/dev/null
	cmake --build build-win64 -j$(JOBS)

# The browser build: build-web/site/ is the whole site (static files). Debian's Emscripten needs node to
# find its own modules. With REF=<tag> (any revision) it builds the site of that release from the
# release's own sources into build-web-<tag>/site/ instead: a site pinned to that version.
WEB_DIR = $(if $(REF),build-web-$(subst /,-,$(REF)),build-web)
web:
ifdef REF
	JOBS=$(JOBS) CMAKE_FLAGS="$(CMAKE_FLAGS)" scripts/web_release.sh $(REF) $(WEB_DIR)
else
	NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B build-web $(CMAKE_FLAGS) >/dev/null
	NODE_PATH=/usr/share/nodejs cmake --build build-web -j$(JOBS)
endif

# Serves the site (of REF, when given) on http://127.0.0.1:8080/ with the isolation headers and the
# Content-Security-Policy.
run-web: web
	scripts/serve_web.py $(WEB_DIR)/site 8080

clean:
	rm -rf build build-asan build-tsan build-win build-win64 build-web build-web-* dist
