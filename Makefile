# Build and test entry points; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# Extra configure options, e.g. CMAKE_FLAGS=-DPW_WERROR=ON (CI does).
CMAKE_FLAGS ?=

.PHONY: all build run test asan test-asan fuzz bench clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/portwright

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DPW_SANITIZE=ON $(CMAKE_FLAGS)

asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The endurance tests run a fifth of their cycles under the sanitizers.
test-asan: asan
	cd $(ASAN_BUILD) && PW_ENDURANCE_SCALE=0.2 ctest --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS (built with clang in build-fuzz/).
FUZZ_SECONDS ?= 20
fuzz:
	bash tests/fuzz/run.sh $(FUZZ_SECONDS)

# The benchmarks against their baselines, run by hand (see bench/README.md).
bench:
	bash bench/run.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz build-bench
