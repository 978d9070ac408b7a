# `make test`: set up .venv, build, run every test.  `make demo`: run the demo.
PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
# cmake and ninja come from the venv
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)
JOBS ?= 2
# CUDA: auto (on when nvcc is found), ON or OFF.
CUDA ?= auto
WERROR ?= ON

ifeq ($(CUDA),auto)
CUDA_DEFINE :=
else
CUDA_DEFINE := -DSTRELLIS_ENABLE_CUDA=$(CUDA)
endif
PIP_CUDA_DEFINE := $(if $(CUDA_DEFINE),-C cmake.define.STRELLIS_ENABLE_CUDA=$(CUDA))

.PHONY: all venv gtest install cpp-tests py-tests test demo bench clean

all: install

$(VENV)/.stamp:
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet "numpy>=1.23" "pytest>=7" "pybind11>=3.0" "scikit-build-core>=0.10" "cmake>=3.26" ninja
	touch $@

venv: $(VENV)/.stamp

# GoogleTest comes from Debian's packages when the machine lacks it.
gtest:
	@if [ ! -f /usr/include/gtest/gtest.h ]; then \
	  echo "installing GoogleTest (libgtest-dev)"; \
	  apt-get update -qq && apt-get install -y -qq libgtest-dev; \
	fi

install: venv
	$(PY) -m pip install --quiet --no-build-isolation . -C build-dir=build/py \
	  -C cmake.define.STRELLIS_WERROR=$(WERROR) $(PIP_CUDA_DEFINE)

cpp-tests: venv gtest
	cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSTRELLIS_BUILD_TESTS=ON -DSTRELLIS_WERROR=$(WERROR) $(CUDA_DEFINE)
	cmake --build build/cpp -j $(JOBS)
	cd build/cpp && ctest --output-on-failure -j $(JOBS)

py-tests: install
	$(PY) -m pytest -q tests

test: cpp-tests py-tests

demo: install
	$(PY) -m strellis demo

bench: install
	$(PY) bench/bench_walks.py

clean:
	rm -rf build $(VENV)
