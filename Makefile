# The README's quick start. Each target first installs the Debian packages it
# needs that this machine lacks (packaging/install-packages.sh, reading
# packaging/apt-packages.txt), then runs a CMake workflow of CMakePresets.json:
#
#   make sample   builds tovrel and converts samples/sample.dat to build/default/sample.sdf
#   make test     builds everything and runs the whole test suite
#
# With the packages installed, `cmake --workflow --preset sample` (or test)
# does the same.

.PHONY: sample test

sample:
	packaging/install-packages.sh build
	cmake --workflow --preset sample

test:
	packaging/install-packages.sh build test interop
	cmake --workflow --preset test
