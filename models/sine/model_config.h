// Constants of the sine source model: identity, dimensions and model-data layout.
#pragma once

#define MODEL_NAME "Pellory"
#define MODEL_MODULE_FILE "Pellory.so"
#define MODEL_GUID "{cc8d6023-ff71-4d3e-ac17-42fb0352faf9}"

// Counts as the size queries report them.
#define MODEL_DIMENSIONS 0, 0, 2, 2, 1, 5, 0, 0, 0, 0, 0, 0, 0
#define MODEL_SIZES 0, 0, 2, 2, 1, 5, 0, 0, 0
#define MODEL_RUNTIME_SIZES 0, 0, 2, 2, 1, 5, 0, 0, 0, 0, 0
#define MODEL_COUNTS 0, 1, 0, 0, 0, 0, 0, 0, 0, 0

#define MODEL_NX 0
#define MODEL_NU 2
#define MODEL_NY 2
#define MODEL_NW 1
#define MODEL_NP 5
#define MODEL_NSTR 0
#define MODEL_NREL 0
#define MODEL_NSAMPLE 0
#define MODEL_NHELD 0
#define MODEL_HEAD_DOUBLES 0
#define MODEL_HEAD_INTS 0
#define MODEL_NSTRING_SLOTS 0
#define MODEL_NEXTRA1 0
#define MODEL_NEXTRA2 0
#define MODEL_NDELAY 1
#define MODEL_HAS_INSTANCE_DATA 1
#define MODEL_PERTURB_BY_STATE 0
