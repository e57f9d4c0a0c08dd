# Build, run and test.  See README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all run test build asan tsan fuzz clean format

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

# The unit tests and the Lisp checks of threads (tests/lisp/threads*.lsp)
# under the thread sanitizer; the first report ends the run.  The sanitizer
# records each thread's calls on a stack of its own with room for 64K
# frames, which the recursion to the deepest root-pointer stack overflows:
# that one check stays with the other builds.
TSAN_RUN = halt_on_error=1
TSAN_LISP_CHECKS = $(wildcard tests/lisp/threads*.lsp)
tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZORVA_TSAN=ON
	cmake --build build-tsan -j $(JOBS) --target unit_tests zorva image
	cd build-tsan && TSAN_OPTIONS="$(TSAN_RUN)" ./unit_tests --gtest_brief=1 \
	  --gtest_filter=-EvalDeepTest.RootStackRunsOutFirst
	TSAN_OPTIONS="$(TSAN_RUN)" ZORVA_LISP_STRICT=1 \
	  bash tests/lisp/run_lisp_tests.sh build-tsan/zorva . $(TSAN_LISP_CHECKS)

# The fuzz targets of tests/fuzz (clang, libFuzzer, both sanitizers), each
# run for FUZZ_TIME seconds from its seed corpus.
FUZZ_TIME ?= 180
FUZZ_TARGETS ?= reader format printer image
fuzz:
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)
	bash tests/fuzz/run.sh build-fuzz $(FUZZ_TIME) $(FUZZ_TARGETS)

format:
	clang-format -i $$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp')

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
