# Varnox build entry points. Each target installs the Debian packages it
# needs when they are missing, configures and builds into build/, then runs.
#
#   make demo                            run the main job
#   make test                            build and run the tests
#   make test SANITIZE=address,undefined the tests under ASan and UBSan
#   make test SANITIZE=thread            the tests under TSan
#   make tsan                            the concurrency tests under TSan
#   make bench                           run the benchmarks
#   make torture                         the kill campaign on live data
#                                        (TORTURE_KILLS kills, default 1000)
#   make format                          clang-format the sources
#   make mutate                          the mutation campaign (tests/mutate.py):
#                                        MUTATE_REPORT=build/mutate.md (the json
#                                        beside it), MUTATE_ONLY=fault,fault,
#                                        MUTATE_REV=commit, MUTATE_HINTS=old.json
#   make fuzz FUZZ_SECONDS=60            run each libFuzzer target that long
#                                        (clang 14, in build/fuzz), from a
#                                        corpus of the demo files (the
#                                        LENEX reader from fuzz/lenex-seeds,
#                                        the web server from fuzz/http-seeds);
#                                        FUZZ_RUNS=N stops each after N
#                                        executions (no time limit then
#                                        unless FUZZ_SECONDS is given)

SANITIZE ?=
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

comma := ,
ifeq ($(SANITIZE),)
BUILD_DIR := build
else
BUILD_DIR := build/sanitize-$(subst $(comma),-,$(SANITIZE))
endif

PACKAGES := cmake ninja-build g++ clang-format python3 libgtest-dev libgmock-dev libbenchmark-dev pkg-config libisal-dev libxml2-dev libzip-dev libsqlite3-dev liblmdb-dev librapidcheck-dev libffi-dev libcpp-httplib-dev nlohmann-json3-dev chromium
# Only `make fuzz` needs these.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_RUNS ?=
FUZZ_SECONDS ?= $(if $(FUZZ_RUNS),0,60)
# What every target is given: the time and run limits, the final figures.
FUZZ_LIMITS = -max_total_time=$(FUZZ_SECONDS) -runs=$(or $(FUZZ_RUNS),-1) -print_final_stats=1
FUZZ_DIR := build/fuzz
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo bench format clean fuzz torture mutate tsan

all: build

deps:
	@missing=$$(for p in $(PACKAGES) $(EXTRA_PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVARNOX_SANITIZE=$(SANITIZE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

demo: build
	dir=$$(mktemp -d) && $(BUILD_DIR)/tools/varnox demo $$dir/meet && rm -rf $$dir

bench: build
	$(BUILD_DIR)/bench/varnox_bench

# Each fault of tests/mutate-faults.toml planted in a scratch copy of
# MUTATE_REV (default HEAD) under /work/mutate-<rev>, built and tested there.
MUTATE_REPORT ?= build/mutate.md
mutate: deps
	python3 tests/mutate.py --report $(MUTATE_REPORT) --json $(basename $(MUTATE_REPORT)).json \
	  $(if $(MUTATE_ONLY),--only $(MUTATE_ONLY)) $(if $(MUTATE_REV),--rev $(MUTATE_REV)) \
	  $(if $(MUTATE_HINTS),--hints $(MUTATE_HINTS))

# A writer killed at random moments while others stay attached to the live
# file (tests/kernel/TortureTest.cpp); make test runs a short version.
TORTURE_KILLS ?= 1000
torture: build
	VARNOX_TORTURE_KILLS=$(TORTURE_KILLS) $(BUILD_DIR)/tests/TortureTest --gtest_filter='Torture.*'

# Each target runs FUZZ_SECONDS from a corpus made now: the demo files (as
# saved, and as exported to XML). The inputs that make a target fail are
# kept in build/fuzz/ (crash-*); the corpora grow in build/fuzz/corpus-*.
fuzz: build
	$(MAKE) deps EXTRA_PACKAGES="$(FUZZ_PACKAGES)"
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVARNOX_SANITIZE=address,undefined -DVARNOX_FUZZ=ON -DVARNOX_BUILD_TESTS=OFF \
	  -DVARNOX_BUILD_BENCH=OFF -DVARNOX_BUILD_TOOLS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) -t SavedFileFuzz XmlImportFuzz LenexFuzz HttpRequestFuzz
	set -e; demo=$$(mktemp -d); trap 'rm -rf $$demo' EXIT; \
	$(BUILD_DIR)/tools/varnox demo $$demo/meet > /dev/null; \
	mkdir -p $(FUZZ_DIR)/corpus-saved $(FUZZ_DIR)/corpus-xml $(FUZZ_DIR)/corpus-lenex \
	  $(FUZZ_DIR)/corpus-http $$demo/files; \
	cp fuzz/lenex-seeds/* $(FUZZ_DIR)/corpus-lenex/; \
	cp fuzz/http-seeds/* $(FUZZ_DIR)/corpus-http/; \
	for f in competitors:FT_COMPETITORS globals:FT_GLOBALS races:FT_RACES pulses:FT_RAW_PULSES iosetup:FT_IOSETUP; do \
	  cp $$demo/meet/$${f%%:*}.orb $(FUZZ_DIR)/corpus-saved/; \
	  cp $$demo/meet/$${f%%:*}.orb $$demo/files/$${f#*:}.orb; \
	  $(BUILD_DIR)/tools/varnox export $$demo/meet/$${f%%:*}.orb $(FUZZ_DIR)/corpus-xml/$${f%%:*}.xml; \
	done; \
	cd $(FUZZ_DIR) && \
	ASAN_OPTIONS=detect_leaks=0 nice -n 10 ./fuzz/SavedFileFuzz $(FUZZ_LIMITS) \
	  -max_len=262144 corpus-saved && \
	ASAN_OPTIONS=detect_leaks=0 VARNOX_FUZZ_FILES=$$demo/files nice -n 10 ./fuzz/XmlImportFuzz \
	  $(FUZZ_LIMITS) -max_len=262144 -dict=../../fuzz/xml.dict corpus-xml && \
	ASAN_OPTIONS=detect_leaks=0 nice -n 10 ./fuzz/LenexFuzz $(FUZZ_LIMITS) \
	  -max_len=65536 -dict=../../fuzz/lenex.dict corpus-lenex && \
	ASAN_OPTIONS=detect_leaks=0 nice -n 10 ./fuzz/HttpRequestFuzz $(FUZZ_LIMITS) \
	  -max_len=4096 -dict=../../fuzz/http.dict corpus-http

# The tests where threads or processes share a file or a view model, built
# and run under ThreadSanitizer (only these: a whole sanitized build of the
# suite would double the time for tests that run on one thread).
TSAN_TESTS := ContainerTest NotificationTest \
  OrbAppTest MvvmTest FileWrapperTest EndOfApplicationTest
TSAN_DIR := build/sanitize-thread
tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVARNOX_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS) -t $(TSAN_TESTS)
	cd $(TSAN_DIR)/tests && for t in $(TSAN_TESTS); do echo "== $$t"; ./$$t --gtest_brief=1 || exit 1; done

format:
	find contracts NetInterface templates tests tools bench varnox \( -name '*.h' -o -name '*.cpp' \) \
	  -not -path 'tests/schema/*' | xargs clang-format -i

clean:
	rm -rf build
