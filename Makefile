# Thin front for CMake. `make run` and `make test` install what is missing first.
BUILD    ?= build
ASAN_BUILD ?= build-asan
JOBS     ?= $(shell nproc)
LISTEN   ?= 127.0.0.1:7400
# WERROR=ON: compiler warnings fail the build (CI sets it).
WERROR   ?= OFF

.PHONY: all deps deps-run deps-build build run test test-asan clean

all: build

# Three package sets: what running needs, what building every target needs,
# and what the test suite needs besides (database servers, browser, ...).
deps:
	@bash scripts/install-deps.sh test
deps-run:
	@bash scripts/install-deps.sh run
deps-build:
	@bash scripts/install-deps.sh build

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQ_WERROR=$(WERROR)

# Every target: the service, vqcall, the tests and the benchmarks.
build: deps-build
	$(CONFIGURE) -DVQ_TESTS=ON -DVQ_BENCH=ON
	cmake --build $(BUILD) -j $(JOBS)

# Only what the demo runs. A build directory that already exists keeps its
# settings; a new one is set up without the tests and benchmarks.
run: deps-run
	@test -f $(BUILD)/CMakeCache.txt || $(CONFIGURE) -DVQ_TESTS=OFF -DVQ_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS) --target vqsrv vqcall
	@bash scripts/run-demo.sh $(BUILD) $(LISTEN)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, leak
# detection on; only the ODBC drivers' own leaks are suppressed.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=ON -DVQ_TESTS=ON -DVQ_BENCH=ON \
	  -DVQ_WERROR=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) run

# Benchmarks, fuzzing and the soak run (bounded, loopback only).
.PHONY: bench fuzz soak install package
bench: deps
	@bash scripts/bench.sh

fuzz: deps
	@bash scripts/fuzz.sh

soak: deps
	@bash scripts/soak.sh

# make install [PREFIX=/usr] [DESTDIR=/tmp/root]; the default prefix is
# CMake's (/usr/local). The units always point at the installed binary.
install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package (prefix /usr) is written to $(BUILD)/vqsrv_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB
