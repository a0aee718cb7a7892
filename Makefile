# Two commands do all set-up on a fresh Debian machine:
#   make run   installs what is missing, builds, starts the program
#   make test  installs what is missing, builds, runs every test suite
# Other targets: make build, make bench, make package, make install, make fuzz, make web (the
# web edition on http://127.0.0.1:8000/), make web-bench, make format, make clean.
# The sequences themselves (configure, build, test, package) are CMake workflow presets in
# CMakePresets.json: `cmake --workflow --preset test` does without make what make test does
# with the main build folder.

BUILD_DIR := build
FUZZ_DIR := $(BUILD_DIR)/fuzz
FUZZ_SECONDS ?= 600
PACKAGE_DIR := $(BUILD_DIR)/package
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# cmake --build and the workflow presets' build steps run this many jobs.
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

# Debian packages: what building the programs needs; the test and benchmark libraries on top
# for make run (one build makes everything); and the tools the test suites need on top.
INSTALL_PACKAGES := cmake g++ make pkg-config qt6-base-dev portaudio19-dev libasound2-dev \
	libjack-jackd2-dev libsoxr-dev libsndfile1-dev libogg-dev libfast-float-dev zlib1g-dev
# The web edition: Emscripten builds it, rsvg-convert renders its app icons, Python serves it;
# its tests drive Debian's chromium from Node.js, whose npm brings playwright-core and
# Lighthouse (a Node.js from elsewhere has its own npm).
WEB_PACKAGES := cmake make emscripten libfast-float-dev librsvg2-bin python3
WEB_TEST_PACKAGES := $(WEB_PACKAGES) chromium $(if $(shell command -v npm),,npm)
RUN_PACKAGES := $(INSTALL_PACKAGES) libgtest-dev libbenchmark-dev
# A virtual X display, a window manager to close windows as a user does, X input, pv to pace
# the captured audio stream like a sound card, screenshots, and pitch measurement; appstreamcli,
# groff, lexgrog and update-mime-database check the installed metainfo, man pages and media
# type; mido reads the MIDI files back; setfacl gives replaced files an ACL to keep; sox reads the
# WAV header back as other programs would; a session bus, the accessibility bus and pyatspi read
# the window as a screen reader does; a JACK server (jackd2, on the dummy back-end) and a JACK
# client in Python play and hear MIDI.
TEST_PACKAGES := $(RUN_PACKAGES) clang xvfb xauth openbox wmctrl xdotool pv imagemagick aubio-tools \
	python3 python3-mido sox desktop-file-utils appstream groff-base man-db shared-mime-info acl \
	dbus-daemon at-spi2-core python3-pyatspi jackd2 python3-jack-client $(WEB_TEST_PACKAGES)

# The Debian package: dpkg-shlibdeps (dpkg-dev) and file compute its dependencies; lintian and
# hardening-check (devscripts) check it in make test.
PACKAGE_BUILD_PACKAGES := $(INSTALL_PACKAGES) dpkg-dev file
TEST_PACKAGES += dpkg-dev file lintian devscripts

# Installs the named packages that are missing: apt-get (through sudo when not root); without
# apt it names the packages and stops.
define install_missing
	@missing=""; \
	if command -v dpkg-query >/dev/null 2>&1; then \
		for p in $(1); do \
			dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q 'ok installed' \
				|| missing="$$missing $$p"; \
		done; \
	else missing=" $(strip $(1))"; fi; \
	if [ -n "$$missing" ]; then \
		if ! command -v apt-get >/dev/null 2>&1; then \
			echo "DoodleChorus needs these Debian packages (or your system's equivalents):$$missing" >&2; \
			echo "No apt-get here: install them with your package manager, then run make again." >&2; \
			exit 1; \
		fi; \
		sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
		echo "Installing:$$missing"; \
		$$sudo apt-get update -qq && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
			-o DPkg::Lock::Timeout=300 $$missing; \
	fi
endef

.PHONY: run test build bench fuzz install package deps-run deps-test deps-web web web-bench \
	format clean

run: build
	$(BUILD_DIR)/app/doodlechorus

# The main build folder (build/), shared with make run, keeps warnings as warnings, so that
# neither command rebuilds what the other built. Warnings are errors in the other builds, which
# together compile every file again: the plain Release build (everything, as packagers build
# it; it also catches what only the optimiser warns about), the ASan/UBSan build and the TSan
# build. Last, the Debian package is made and checked.
test: deps-test
	cmake --workflow --preset test
	cmake --workflow --preset release
	cmake --workflow --preset asan
	cmake --workflow --preset tsan
	DC_WERROR=ON DC_WEB_TEST_EXPORTS=ON web/build.sh $(WEB_TEST_DIR) $(WEB_TEST_BUILD_DIR)
	web/test.sh $(WEB_TEST_DIR) $(BUILD_DIR)/tools/doodlechorus-render
	$(MAKE) --no-print-directory package
	tests/package_test.sh $(PACKAGE_DIR)

build: deps-run
	cmake --workflow --preset build

bench: deps-test
	cmake --workflow --preset build
	$(BUILD_DIR)/bench/voice_bench
	$(BUILD_DIR)/bench/play_clock_jitter 10
	$(BUILD_DIR)/bench/resampler_bench
	bench/idle_cpu.sh $(BUILD_DIR)/app/doodlechorus 10
	$(BUILD_DIR)/bench/recording_file_bench
	$(BUILD_DIR)/bench/render_bench
	$(BUILD_DIR)/bench/export_repaint_bench
	bench/jack_midi_latency.py $(BUILD_DIR)/app/doodlechorus
	DC_WEB_TEST_EXPORTS=ON web/build.sh $(WEB_TEST_DIR) $(WEB_TEST_BUILD_DIR)
	web/test.sh --bench $(WEB_TEST_DIR) $(BUILD_DIR)/bench/voice_bench

# The web edition: builds the page into $(WEB_DIR) and serves it on loopback.
WEB_DIR := $(BUILD_DIR)/web
# The page the browser tests and the benchmark load: the same, plus the calls only they make.
WEB_TEST_DIR := $(BUILD_DIR)/web-test
WEB_TEST_BUILD_DIR := $(BUILD_DIR)/web-test-build
WEB_PORT ?= 8000
web: deps-web
	web/build.sh $(WEB_DIR)
	@echo "DoodleChorus in a browser: http://127.0.0.1:$(WEB_PORT)/ (Ctrl+C ends the server)"
	python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory $(WEB_DIR)

# The WebAssembly voice in chromium against the native voice_bench.
web-bench: deps-test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j$(JOBS) --target voice_bench
	DC_WEB_TEST_EXPORTS=ON web/build.sh $(WEB_TEST_DIR) $(WEB_TEST_BUILD_DIR)
	web/test.sh --bench $(WEB_TEST_DIR) $(BUILD_DIR)/bench/voice_bench

# Fuzzes the file and line readers, then the MIDI file reader and the MIDI performance, then
# the compact form of links, with libFuzzer (clang), each for FUZZ_SECONDS and starting from its
# committed corpus; new inputs go to $(FUZZ_DIR)/corpus, $(FUZZ_DIR)/midi-corpus and
# $(FUZZ_DIR)/link-corpus, findings to $(FUZZ_DIR).
fuzz: deps-test
	cmake --preset fuzz
	cmake --build --preset fuzz
	mkdir -p $(FUZZ_DIR)/corpus $(FUZZ_DIR)/midi-corpus $(FUZZ_DIR)/link-corpus
	cd $(FUZZ_DIR) && ./tests/recording_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		corpus $(CURDIR)/tests/fuzz/corpus
	cd $(FUZZ_DIR) && ./tests/midi_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		-dict=$(CURDIR)/tests/fuzz/midi.dict midi-corpus $(CURDIR)/tests/fuzz/midi-corpus
	cd $(FUZZ_DIR) && ./tests/link_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		link-corpus $(CURDIR)/tests/fuzz/link-corpus

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

deps-web:
	$(call install_missing,$(WEB_PACKAGES))

# The Debian package $(PACKAGE_DIR)/doodlechorus_<version>-1_<architecture>.deb: the programs,
# man pages, desktop entry, metainfo, icons, copyright and changelog, built without the tests
# and benchmarks. Install it with apt install ./$(PACKAGE_DIR)/doodlechorus_….deb. An older
# version's package is removed first, so that one package remains.
package:
	$(call install_missing,$(PACKAGE_BUILD_PACKAGES))
	rm -f $(PACKAGE_DIR)/*.deb
	cmake --workflow --preset package

# Installs the program, the command-line tool, their man pages, the desktop entry, the metainfo
# and the icons under PREFIX (default /usr/local), from a build of its own without the tests
# and benchmarks (BUILD_TESTING=OFF), so that neither their libraries nor their build time are
# needed. On Debian, make package and apt install are the better way: apt removes it again.
PREFIX ?= /usr/local
DIST_DIR := $(BUILD_DIR)/dist
install:
	$(call install_missing,$(INSTALL_PACKAGES))
	cmake --workflow --preset dist
	cmake --install $(DIST_DIR) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
