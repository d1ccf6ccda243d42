# Varnox build entry points. Each target installs the Debian packages it
# needs when they are missing, configures and builds into build/, then runs.
#
#   make demo                            run the main job
#   make test                            build and run the tests
#   make test SANITIZE=address,undefined the tests under ASan and UBSan
#   make test SANITIZE=thread            the tests under TSan
#   make bench                           run the benchmarks
#   make format                          clang-format the sources

SANITIZE ?=
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

comma := ,
ifeq ($(SANITIZE),)
BUILD_DIR := build
else
BUILD_DIR := build/sanitize-$(subst $(comma),-,$(SANITIZE))
endif

PACKAGES := cmake ninja-build g++ clang-format python3 libgtest-dev libgmock-dev libbenchmark-dev pkg-config libisal-dev libxml2-dev libsqlite3-dev liblmdb-dev librapidcheck-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo bench format clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || echo $$p; done); \
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

format:
	find contracts NetInterface templates tests tools bench varnox -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
