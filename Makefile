# The two promises of the README: `make demo` runs the system, `make test` passes the tests.
# Both install what they need on a fresh Debian machine. The demo needs no test framework:
# TESTS=ON (set by the targets that need it, and inherited by what they build) adds the
# tests and benchmarks to every preset, and their packages to the install.
.PHONY: all deps dist arm64-tests win64 native test demo bench soak fuzz format clean

TESTS ?= OFF
test arm64-tests bench soak fuzz: TESTS = ON
tests_flag = $(if $(filter ON,$(TESTS)),--tests,)

all: dist

deps:
	@scripts/ensure-deps $(tests_flag)

# The shipped 32-bit DLLs and listener, the installer, the zip for installing by hand, Lumo
# Listen for Linux as .deb packages for amd64 and (where this machine has the arm64 libraries)
# arm64, and SHA256SUMS of all. The Linux presets build lumolisten alone, without the tests.
dist: deps
	@scripts/build-preset win32 $(tests_flag)
	@mkdir -p dist
	@for file in lumolink.dll lumo.dll lumolisten.exe; do \
	    [ ! -f build/win32/bin/$$file ] || cp build/win32/bin/$$file dist/; done
	@scripts/build-preset linux-amd64
	@scripts/package-deb amd64 dist
	@if reason=$$(scripts/can-build-arm64); then \
	    scripts/build-preset linux-arm64 && scripts/package-deb arm64 dist; \
	else \
	    rm -f dist/lumo_*_arm64.deb; echo "WARNING: no arm64 package: $$reason" >&2; fi
	@scripts/package build/win32 dist
	@echo "dist/: $$(cd dist && ls)"

# The unit tests built for arm64, which make test runs under qemu.
arm64-tests: deps
	@if scripts/can-build-arm64 >/dev/null; then \
	    scripts/build-preset linux-arm64-tests --tests; fi

win64: deps
	@scripts/build-preset win64 $(tests_flag)

native: deps
	@scripts/build-preset native $(tests_flag)

test: dist win64 native arm64-tests
	@scripts/run-tests

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build dist

# The stream parser, then the light packets' parsers and receiver, under libFuzzer for a minute
# each (scripts/fuzz SECONDS for longer).
fuzz: deps
	@scripts/fuzz 60

# Benchmarks: native, render calls under Wine against the frame's line time, and the listener's
# sound-to-light lag and share of a core.
bench: dist win64 native
	@scripts/bench

# Every mode for 200,000 render calls (SOAK_CALLS=N to change) with cubeview checking each frame,
# then the listener for ten minutes (SOAK_LISTEN_SECONDS=N) with its memory watched.
soak: dist win64 native
	@scripts/soak

# The main job: music in, the real DLLs running, the cube's light patterns out (cubeview).
# WAV=song.wav plays your own file; MODE=Star|Levels|NewStar picks one mode.
demo: dist win64 native
	@WAV="$(WAV)" MODE="$(MODE)" scripts/demo
