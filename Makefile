# SPDX-License-Identifier: MIT
# The two commands of the README, and a few more for developers.
.PHONY: all deps run test stress-test build tsan vm-test windows package bench fuzz format lint clean

all: build

deps:
	./scripts/install-deps

build: deps
	cmake --preset debug
	cmake --build --preset debug

# The main job: against the simulator when no charger is attached.
run: deps
	cmake --preset release
	cmake --build --preset release --target velmorin-cli velmorin-sim velmorin
	./scripts/run-demo build/release

# Every test: formatting and layering, then a debug build, the Windows
# programs cross-built and tested under Wine (against the debug tree's
# simulator), a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# the core's tests under ThreadSanitizer, and the debug programs against the
# kernel's USB drivers in a virtual machine, and last the Debian package,
# made and checked (scripts/check-package). The Windows tests share one
# display; a Wine server left from a run without it is ended first.
test: deps
	./scripts/check-format
	./scripts/check-layers
	cmake --preset debug
	cmake --build --preset debug
	ctest --preset debug
	cmake --preset windows
	cmake --build --preset windows
	WINEPREFIX=$(CURDIR)/build/windows/wine wineserver -k 2>/dev/null || true
	xvfb-run -a -s "-screen 0 1280x800x24" ctest --preset windows
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan
	./scripts/vm-test build/debug
	$(MAKE) package
	./scripts/check-package

# The debug build's tests while a busy loop runs on every core, as on a
# loaded machine: a test that relies on one process being fast enough fails
# here. Not part of `make test`. The loops are ended however ctest ends, and
# the exit status is ctest's.
stress-test: deps
	cmake --preset debug
	cmake --build --preset debug
	@loops=; \
	trap 'kill $$loops 2>/dev/null' EXIT INT TERM; \
	for i in $$(seq $$(nproc)); do (while :; do :; done) & loops="$$loops $$!"; done; \
	echo "stress-test: $$(nproc) busy loops:$$loops"; \
	status=0; ctest --preset debug || status=$$?; \
	exit $$status

# velmorin.exe, velmorin-cli.exe, velmorin-setup.exe and the portable zip in
# build/windows, cross-built with mingw-w64.
windows: deps
	cmake --preset windows
	cmake --build --preset windows

# The Debian package build/velmorin_<version>_<arch>.deb, made by CPack from
# the project's own install rules in a release tree of its own configured for
# the prefix /usr (the udev rule's folder follows the prefix), without the
# tests and benchmarks, and with Debian's hardening flags as dpkg-buildflags
# gives them (glibc's fortified headers among them), and -Werror as elsewhere.
package: deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake --preset release -B build/package -DCMAKE_INSTALL_PREFIX=/usr \
	    -DVELMORIN_BUILD_TESTS=OFF -DVELMORIN_BUILD_BENCH=OFF -DVELMORIN_WERROR=ON \
	    -DCMAKE_STRIP=$(CURDIR)/packaging/strip-binary \
	    "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	    "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)"
	rm -f build/package/velmorin_*.deb
	cmake --build build/package --target package
	cp build/package/velmorin_*.deb build/

# The core's tests under ThreadSanitizer (no GUI, no CLI end-to-end tests).
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# velmorin-cli and velmorin-sim against the kernel's own USB drivers, in a
# Linux guest under QEMU (scripts/vm-test).
vm-test: deps
	cmake --preset debug
	cmake --build --preset debug --target velmorin-cli velmorin-sim vm_probe
	./scripts/vm-test build/debug

bench: deps
	cmake --preset release
	cmake --build --preset release --target image_bench discovery_bench upgrade_bench history_bench velmorin-sim velmorin-cli
	./tests/umockdev-wrapper build/release/bench/discovery_bench
	./build/release/bench/image_bench
	# Last: the figures, one name=value per line: the upgrades', then the
	# history's.
	./build/release/bench/upgrade_bench build/release/sim/velmorin-sim
	./build/release/bench/history_bench build/release/cli/velmorin-cli

fuzz: deps
	./scripts/run-fuzz

format:
	git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

lint: build
	git ls-files '*.cpp' | grep -E '^(src|gui|cli|sim)/' | xargs clang-tidy -p build/debug --quiet

clean:
	rm -rf build
