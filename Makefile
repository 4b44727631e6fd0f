# Build and test entry points; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# Extra configure options, e.g. CMAKE_FLAGS=-DPW_WERROR=ON (CI does).
CMAKE_FLAGS ?=

.PHONY: all build run test asan test-asan fuzz bench package clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The program alone: the tests are built by `make test`.
run: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target portwright
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

# The .deb, from a Release build of the program alone in build-package/ with
# Debian's hardening flags; a copy lands in build/ for `apt install ./build/...`.
PACKAGE_BUILD ?= build-package
DEB_CXXFLAGS   = $(shell dpkg-buildflags --get CPPFLAGS 2>/dev/null) $(shell dpkg-buildflags --get CXXFLAGS 2>/dev/null)
DEB_LDFLAGS    = $(shell dpkg-buildflags --get LDFLAGS 2>/dev/null)
package:
	cmake -S . -B $(PACKAGE_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPW_TESTS=OFF \
	  "-DCMAKE_CXX_FLAGS=$(DEB_CXXFLAGS)" "-DCMAKE_EXE_LINKER_FLAGS=$(DEB_LDFLAGS)" $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/portwright_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	mkdir -p $(BUILD)
	rm -f $(BUILD)/portwright_*.deb
	cp $(PACKAGE_BUILD)/portwright_*.deb $(BUILD)/

# Each libFuzzer target for FUZZ_SECONDS (built with clang in build-fuzz/).
FUZZ_SECONDS ?= 20
fuzz:
	bash tests/fuzz/run.sh $(FUZZ_SECONDS)

# The benchmarks against their baselines, run by hand (see bench/README.md).
bench:
	bash bench/run.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD) build-fuzz build-bench
