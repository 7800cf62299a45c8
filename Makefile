# The two commands of the README:
#   make demo   installs what is missing, builds, runs the shipped example in a scratch folder
#   make test   installs what is missing, builds, runs the whole suite, then again under
#               AddressSanitizer and UndefinedBehaviorSanitizer, then fuzzes the input loaders
#   make fuzz   only the fuzzing, FUZZ_SECONDS per target (tools/run_fuzzers.sh)
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
BENCH_DIR ?= build-native
FUZZ_SECONDS ?= 60

.PHONY: all setup build test test-release test-sanitize test-fuzz fuzz demo bench soak sweep clean

all: build

setup:
	@bash tools/setup.sh

build: setup
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARDGAS_WERROR=ON
	cmake --build $(BUILD_DIR)

test: test-release test-sanitize test-fuzz

test-release: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j2

# Without NDEBUG, so that every run also checks the whole system's consistency at its end.
test-sanitize: setup
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
		-DHARDGAS_SANITIZE=ON -DHARDGAS_WERROR=ON
	cmake --build $(SANITIZE_DIR)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j2

# Five targets, two at a time: about three times FUZZ_SECONDS after the build.
fuzz: setup
	bash tools/run_fuzzers.sh $(FUZZ_SECONDS) $(FUZZ_DIR)

# CI's share, whatever FUZZ_SECONDS says: half a minute per target keeps `make test`, with the
# workflow, browser and kill tests, under 15 minutes; `make fuzz` fuzzes longer.
test-fuzz: setup
	bash tools/run_fuzzers.sh 30 $(FUZZ_DIR)

demo: build
	@bash tools/run_demo.sh $(BUILD_DIR)

# Tuned for this machine's processor, as the public codes it is compared with are.
bench: setup
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARDGAS_NATIVE=ON -DHARDGAS_TESTS=OFF
	cmake --build $(BENCH_DIR)
	python3 bench/engine_bench.py --build $(BENCH_DIR)

# Ten million collisions in a dense fluid and in a gas column; fails on an overlap, a
# sphere through a wall, a fatal contact error or energy drift.
soak: build
	/usr/bin/python3 bench/soak.py --build $(BUILD_DIR)

# The example grid of workflows/sweep with all local cores, into SWEEP_DIR. A sweep that was
# killed leaves Snakemake's lock behind: it is lifted first, and the runs that were cut off
# are done again or continued from their restart files.
SWEEP_DIR ?= $(BUILD_DIR)/sweep
SNAKEMAKE = .venv/bin/python -m snakemake --snakefile workflows/sweep/Snakefile --directory $(SWEEP_DIR)
sweep: build
	$(SNAKEMAKE) --unlock --quiet
	$(SNAKEMAKE) --cores all --rerun-incomplete
	@echo "Results in $(SWEEP_DIR)/results.csv, figures in $(SWEEP_DIR)/figures"

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(BENCH_DIR)
