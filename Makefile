# Front door: `make run` and `make test` work on a fresh Debian 12 machine.
JOBS := $(shell nproc)

.PHONY: run test build setup bench accuracy clean package

setup:
	bash scripts/setup.sh --packages-only

build:
	bash scripts/setup.sh dev

# Starts the window; without a display it runs under a virtual X server.
run: build
	@if [ -n "$$DISPLAY" ]; then ./build/dev/src/kestrin; \
	else xvfb-run -a -s "-screen 0 1280x800x24" ./build/dev/src/kestrin; fi

# Every test, in the optimised build and again under ASan + UBSan. The GNU
# parallel, Slurm and package tests run the optimised build's programs once;
# the package test installs and removes the package (root, apt-get).
test:
	bash scripts/setup.sh dev
	ctest --preset dev -j $(JOBS)
	bash scripts/test-parallel.sh build/dev/src
	bash scripts/test-slurm.sh build/dev/src
	bash scripts/test-package.sh
	bash scripts/setup.sh asan
	ctest --preset asan -j $(JOBS)

# build/dev/kestrin_<version>_amd64.deb
package: build
	cmake --build --preset dev --target package
	@ls build/dev/kestrin_*_amd64.deb

bench: build
	bash bench/run.sh

# Both counting methods against ground truth: the broad synthetic scenes of
# the tuning and the held-out seeds, and the real clip when ../shared/real
# has it (13 min of processor time, 2 jobs); ACCURACY_ARGS passes options, e.g.
# "--tuning", "--real" or "--set classic --seed 0".
accuracy: build
	./build/dev/bench/accuracy/kestrin-accuracy $(ACCURACY_ARGS)

clean:
	rm -rf build
