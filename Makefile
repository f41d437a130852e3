# Orvelle: `make run` opens the window, `make test` runs every test, `make deb`
# builds the Debian package.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CTEST_ENV  := QT_QPA_PLATFORM=offscreen

.PHONY: all deps deps-packaging configure build run test test-heavy test-nogui test-sanitize \
	check-toolkit-free fuzz bench screenshot format clean deb

all: build

deps:
	@scripts/install-deps

# The base group and the packaging tools (help2man, lintian, GNU parallel, ...).
deps-packaging:
	@scripts/install-deps --packaging

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: $(BUILD)/CMakeCache.txt

build: deps-packaging configure
	cmake --build $(BUILD) -j $(JOBS)

# Only what the window needs (or, without a display, orvelle-harvest): the tests,
# benchmarks and manual pages wait for `make test`.
run: deps configure
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  cmake --build $(BUILD) -j $(JOBS) --target orvelle-harvest && \
	  echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset): harvest on the command line instead, e.g. $(BUILD)/orvelle-harvest www.example.com"; \
	else \
	  cmake --build $(BUILD) -j $(JOBS) --target orvelle && $(BUILD)/orvelle; \
	fi

test: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -j $(JOBS) -LE heavy

test-heavy: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -L heavy --no-tests=ignore

# Without the window (-DORVELLE_BUILD_GUI=OFF), as a server without a desktop
# builds it: the core, orvelle-harvest and the tests that need no window.
NOGUI_BUILD ?= build-nogui

test-nogui: deps
	cmake -S . -B $(NOGUI_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORVELLE_BUILD_GUI=OFF
	cmake --build $(NOGUI_BUILD) -j $(JOBS)
	cd $(NOGUI_BUILD) && $(CTEST_ENV) ctest --output-on-failure -j $(JOBS) -LE heavy

# No file of the core or of cli/ includes a header of QtGui or QtWidgets.
check-toolkit-free: deps
	scripts/check-toolkit-free

# The suite without the heavy cases, under AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_BUILD ?= build-sanitize

test-sanitize: deps-packaging
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVELLE_SANITIZE=ON -DORVELLE_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(CTEST_ENV) ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE heavy

# libFuzzer targets (clang), each run for FUZZ_SECONDS from the seeds in
# fuzz/corpus/<target>/; what they add goes to the build folder, and a crash or a
# broken invariant leaves its input in $(FUZZ_BUILD)/artifacts/ and fails.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DORVELLE_FUZZ=ON -DORVELLE_BUILD_GUI=OFF -DORVELLE_BUILD_TESTS=OFF -DORVELLE_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@for seeds in fuzz/corpus/*/; do \
	  name=$$(basename $$seeds); \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$name; \
	  echo "== $$name, $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/fuzz/$$name -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(abspath $(FUZZ_BUILD))/artifacts/$$name- \
	    $(FUZZ_BUILD)/corpus/$$name $$seeds || exit 1; \
	done

BENCH_BUILD ?= build-bench

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVELLE_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benches
	@scripts/bench-corpus $(BENCH_BUILD)/bench-corpus.html
	@for b in $(BENCH_BUILD)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $$(basename $$b)"; \
	  ORVELLE_BENCH_CORPUS=$(abspath $(BENCH_BUILD))/bench-corpus.html "$$b" || exit 1; \
	done

# The window as a person sees it, drawn on a virtual display (Xvfb), for the README.
screenshot: build
	QT_QPA_PLATFORM=xcb xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" \
	  $(BUILD)/orvelle-screenshot docs/screenshot.png
	@echo "wrote docs/screenshot.png"

# orvelle_<version>_<arch>.deb, here: `apt install ./orvelle_*.deb` installs it.
deb: build
	rm -f $(BUILD)/orvelle_*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/orvelle_*.deb .

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
