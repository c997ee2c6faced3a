# Two commands for everything: `make test` and `make demo`. Both install what is missing first.
PRESETS := win32 win64

.PHONY: all deps build test fuzz demo bench screenshots check-lng lng-reference sign dist format \
	clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@for p in $(PRESETS); do \
	  [ -f build/$$p/CMakeCache.txt ] || cmake --preset $$p >/dev/null || exit 1; \
	  MAKEFLAGS= cmake --build --preset $$p -j2 || exit 1; \
	done

test: build
	@scripts/run-tests.sh $(PRESETS)

# Every fuzz campaign at full size for both builds, then random machines through the real setup
# and uninstall; not part of `make test`, which runs a short fixed-seed slice of each.
# FUZZ_SEED=n make fuzz replays a run.
fuzz: build
	@scripts/fuzz.sh $(PRESETS)

demo: build
	@scripts/demo.sh

bench: build
	@python3 bench/startup_bench.py --exe build/win32/Uninstall.exe --exe build/win64/Uninstall.exe
	@python3 bench/uninstall_bench.py --exe build/win32/Uninstall.exe --exe build/win64/Uninstall.exe
	@python3 bench/apply_bench.py --exe build/win32/Uninstall.exe --exe build/win64/Uninstall.exe
	@for p in $(PRESETS); do scripts/wine-run.sh build/$$p/bench/settings_bench.exe || exit 1; \
	  scripts/wine-run.sh build/$$p/bench/langfile_bench.exe || exit 1; done

# The dialogs as PNG files under build/screenshots/, at 96, 120, 144 and 192 DPI;
# LNG=path/to/uninstall.lng renders them with a translation.
screenshots: build
	@python3 scripts/lngkit.py screenshots $(if $(LNG),--lng $(LNG))

# A translation read as the program reads it, its dialogs measured at 96, 120, 144 and 192 DPI:
# make check-lng LNG=path/to/uninstall.lng. Fails when the file has errors.
check-lng: build
	@python3 scripts/lngkit.py check $(if $(LNG),--lng $(LNG))

# docs/uninstall.lng, the English reference, made anew after the program's texts changed.
lng-reference: build
	@python3 scripts/lngkit.py reference

# Authenticode signatures for what ships: make sign CERT=cert.pem KEY=key.pem [TSA=url].
sign: build
	@CERT="$(CERT)" KEY="$(KEY)" TSA="$(TSA)" scripts/sign.sh build/win32/Uninstall.exe \
	  build/win64/Uninstall.exe

# The release in build/dist/: per architecture a zip with Uninstall.exe and one with its
# Uninstall.debug, the English uninstall.lng, the licence notices, an SPDX bill of materials and
# SHA256SUMS. Builds only what ships; CERT=cert.pem KEY=key.pem [TSA=url] signs the executables.
dist: deps
	@CERT="$(CERT)" KEY="$(KEY)" TSA="$(TSA)" scripts/dist.sh

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
