# Everything a person types: each target installs what is missing and builds first.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
BENCH_BUILD ?= build-bench
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
WERROR     ?= OFF
JOBS       ?= $(shell nproc)
# Debug information: 2 for a debugger, 1 for line tables only (quicker to build; CI uses it).
DEBUG_INFO ?= 2
# ON compiles the ordinary build's sources several to a translation unit (CI uses it).
UNITY      ?= OFF
# The configurations are CMakePresets.json's presets; these settings go on top of them.
CONFIG      = -DHCF_WERROR=$(WERROR) -DHCF_DEBUG_INFO=$(DEBUG_INFO)
# The interpreter the Python module is built and tested for: Debian's, which sees NumPy.
PYTHON     ?= $(shell if [ -x /usr/bin/python3 ]; then echo /usr/bin/python3; else command -v python3; fi)

.PHONY: all deps build demo test docs sanitize tsan bench fuzz fuzz-seeds install package clean tidy format-check

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake --preset default -B $(BUILD) $(CONFIG) -DCMAKE_UNITY_BUILD=$(UNITY) \
	  -DPython3_EXECUTABLE=$(PYTHON) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@$(BUILD)/tools/hcf/hcf demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The API reference from the public headers' comments, HTML in $(BUILD)/docs/html; any warning
# (an undocumented public declaration among them) fails it.
docs: deps
	@mkdir -p $(BUILD)/docs
	@HCF_DOCS_DIR=$(BUILD)/docs doxygen docs/Doxyfile

# The sanitizer builds compile several sources as one (unity builds): the same tests, built in
# half the time; the ordinary build keeps one translation unit a source unless UNITY=ON.
# AddressSanitizer runs at -Og: as quick to build as -O0, and the tests run twice as fast.
sanitize: deps
	@cmake --preset sanitize -B $(SAN_BUILD) $(CONFIG) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

tsan: deps
	@cmake --preset tsan -B $(TSAN_BUILD) $(CONFIG) >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tools/sanitizers/tsan.supp" ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake --preset bench -B $(BENCH_BUILD) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@$(BENCH_BUILD)/bench/color_bench
	@$(BENCH_BUILD)/bench/calibration_bench
	@$(BENCH_BUILD)/bench/spectro_bench
	@$(BENCH_BUILD)/bench/catalog_bench
	@$(BENCH_BUILD)/bench/search_bench
	@$(BENCH_BUILD)/bench/download_bench
	@$(BENCH_BUILD)/bench/accuracy_bench

fuzz:
	@scripts/install-deps --fuzz
	@cmake --preset fuzz -B $(FUZZ_BUILD) -DHCF_DEBUG_INFO=$(DEBUG_INFO) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

fuzz-seeds: build
	@cmake --build $(BUILD) --target hcf_fuzz_seeds
	@$(BUILD)/tools/cloud/hcf_fuzz_seeds . fuzz/corpus
	@fuzz/seeds/more_seeds.sh $(BUILD)/tools/hcf/hcf fuzz/corpus

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# Debian packages libhcf1, libhcf-dev, hcf-tools and python3-hcf in $(BUILD)/packages.
package: build
	cd $(BUILD) && cpack -G DEB -B $(CURDIR)/$(BUILD)/packages

# The checks of .clang-tidy on the kit's sources (needs the ordinary build's compile commands).
tidy: build
	@git ls-files 'src/*.cpp' | xargs -P $(JOBS) -n 4 clang-tidy -p $(BUILD) --quiet

# .clang-format on the C++ files changed since BASE (default: the commit before HEAD).
format-check:
	@scripts/check-format $(BASE)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
