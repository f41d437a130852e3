# Orvelle: `make run` opens the window, `make test` runs every test.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CTEST_ENV  := QT_QPA_PLATFORM=offscreen

.PHONY: all deps configure build run test bench format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset): harvest on the command line instead, e.g. $(BUILD)/orvelle-harvest www.example.com"; \
	else \
	  $(BUILD)/orvelle; \
	fi

test: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -j $(JOBS) -LE heavy

bench: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target benches
	@scripts/bench-corpus $(BUILD)/bench-corpus.html
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $$b"; \
	  ORVELLE_BENCH_CORPUS=$(abspath $(BUILD))/bench-corpus.html $$b || exit 1; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
