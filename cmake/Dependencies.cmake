# CVODE, LAPACK and BLAS are linked statically from Debian's PIC archives, so
# that an FMU depends on nothing but the C and C++ runtimes.
set(_libdir /usr/lib/x86_64-linux-gnu)

function(_fmu_find_archive VAR NAME)
  find_file(${VAR} NAMES ${NAME} PATHS ${_libdir} ${_libdir}/lapack ${_libdir}/blas NO_DEFAULT_PATH)
  if(NOT ${VAR})
    message(FATAL_ERROR "${NAME} not found: install the packages listed in scripts/install-packages")
  endif()
endfunction()

_fmu_find_archive(FMU_CVODE_A libsundials_cvode.a)
_fmu_find_archive(FMU_NVECSERIAL_A libsundials_nvecserial.a)
_fmu_find_archive(FMU_SUNMATDENSE_A libsundials_sunmatrixdense.a)
_fmu_find_archive(FMU_SUNLINSOLDENSE_A libsundials_sunlinsoldense.a)
_fmu_find_archive(FMU_SUNNONLINNEWTON_A libsundials_sunnonlinsolnewton.a)
_fmu_find_archive(FMU_SUNDIALS_GENERIC_A libsundials_generic.a)
_fmu_find_archive(FMU_LAPACK_A liblapack.a)
_fmu_find_archive(FMU_BLAS_A libblas.a)

execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libgfortran.a
                OUTPUT_VARIABLE FMU_GFORTRAN_A OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=libquadmath.a
                OUTPUT_VARIABLE FMU_QUADMATH_A OUTPUT_STRIP_TRAILING_WHITESPACE)

# In link order: users before what they use.
set(FMU_EXTERNAL_LIBS
    ${FMU_CVODE_A} ${FMU_SUNLINSOLDENSE_A} ${FMU_SUNMATDENSE_A} ${FMU_SUNNONLINNEWTON_A} ${FMU_NVECSERIAL_A}
    ${FMU_SUNDIALS_GENERIC_A} ${FMU_LAPACK_A} ${FMU_BLAS_A} ${FMU_GFORTRAN_A} ${FMU_QUADMATH_A} m)
