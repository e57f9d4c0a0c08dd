# Build, run and test.  See README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all run test build asan clean format

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/zorva

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Unit tests under the address and undefined-behaviour sanitizers.
asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZORVA_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

format:
	clang-format -i $$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp')

clean:
	rm -rf $(BUILD) build-asan
