# Everything a person types: each target installs what is missing and builds first.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
BENCH_BUILD ?= build-bench
WERROR     ?= OFF
JOBS       ?= $(shell nproc)

.PHONY: all deps build demo test sanitize bench install clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHCF_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@$(BUILD)/tools/hcf/hcf demo

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHCF_SANITIZE=ON -DHCF_WERROR=$(WERROR) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DHCF_BUILD_BENCH=ON -DHCF_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@$(BENCH_BUILD)/bench/color_bench
	@$(BENCH_BUILD)/bench/calibration_bench
	@$(BENCH_BUILD)/bench/spectro_bench
	@$(BENCH_BUILD)/bench/catalog_bench
	@$(BENCH_BUILD)/bench/search_bench
	@$(BENCH_BUILD)/bench/download_bench

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD)
