// Constants of the test model: a small model whose equations the tests plug in
// through modelTable, with states, relations, a sample and string variables.
#pragma once

#define MODEL_NAME "FakeModel"
#define MODEL_MODULE_FILE "FakeModel.so"
#define MODEL_GUID "{0f0e0d0c-0b0a-4908-8706-050403020100}"

#define MODEL_DIMENSIONS 2, 0, 2, 2, 3, 3, 2, 2, 2, 0, 0, 0, 0
#define MODEL_SIZES 2, 0, 2, 2, 3, 3, 2, 0, 0
#define MODEL_RUNTIME_SIZES 2, 0, 2, 2, 3, 3, 0, 2, 2, 0, 0
#define MODEL_COUNTS 2, 0, 0, 0, 0, 0, 0, 0, 0, 0

#define MODEL_NX 2
#define MODEL_NU 2
#define MODEL_NY 2
#define MODEL_NW 3
#define MODEL_NP 3
#define MODEL_NSTR 2
#define MODEL_NREL 2
#define MODEL_NSAMPLE 1
#define MODEL_NHELD 0
#define MODEL_HEAD_DOUBLES 0
#define MODEL_HEAD_INTS 0
#define MODEL_NSTRING_SLOTS 2
#define MODEL_NEXTRA1 0
#define MODEL_NEXTRA2 0
#define MODEL_NDELAY 1
#define MODEL_NSPATIAL 2
#define MODEL_SPATIAL_POINTS 100
#define MODEL_HAS_INSTANCE_DATA 1
#define MODEL_PERTURB_BY_STATE 0
