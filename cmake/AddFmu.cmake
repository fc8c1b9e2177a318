# add_fmu(NAME MODEL_DIR): builds NAME.so from the FMI layer and the runtime,
# compiled with the constants of the model in MODEL_DIR, plus the model's own
# code. The objects are also available as NAME_objects, so tests can link a
# model's runtime directly and reach its internal functions.

file(GLOB FMU_RUNTIME_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/fmi/*.cpp
     ${CMAKE_SOURCE_DIR}/source/*.cpp)

set(FMU_EXPORT_MAP ${CMAKE_SOURCE_DIR}/cmake/fmi2_exports.map)

function(add_fmu NAME MODEL_DIR)
  file(GLOB _model_sources CONFIGURE_DEPENDS ${MODEL_DIR}/*.cpp)
  add_library(${NAME}_objects OBJECT ${FMU_RUNTIME_SOURCES} ${_model_sources})
  target_include_directories(${NAME}_objects PUBLIC
      ${MODEL_DIR} ${CMAKE_SOURCE_DIR}/fmi ${CMAKE_SOURCE_DIR}/source ${CMAKE_SOURCE_DIR}/modelica
      ${CMAKE_SOURCE_DIR}/matfile ${CMAKE_SOURCE_DIR}/fmi/tpl ${CMAKE_SOURCE_DIR}/source/platform)
  target_compile_options(${NAME}_objects PRIVATE ${FMU_WARNINGS})
  target_compile_definitions(${NAME}_objects PUBLIC FMU_MODEL_NAME="${NAME}")
  # The interface libraries the objects need, for whoever links them.
  set_property(TARGET ${NAME}_objects PROPERTY FMU_LINK_LIBS modelica matfile fmi_tpl fmu_platform)

  add_library(${NAME} SHARED $<TARGET_OBJECTS:${NAME}_objects>)
  set_target_properties(${NAME} PROPERTIES PREFIX "" OUTPUT_NAME ${NAME}
                        LINK_DEPENDS ${FMU_EXPORT_MAP})
  target_link_libraries(${NAME} PRIVATE
      modelica matfile fmi_tpl fmu_platform ${FMU_EXTERNAL_LIBS} dl pthread
      -Wl,--version-script=${FMU_EXPORT_MAP} -Wl,-Bsymbolic -Wl,--exclude-libs,ALL)
  if(NOT FMU_SANITIZE AND NOT FMU_TSAN)
    target_link_options(${NAME} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# fmu_link_runtime(TARGET NAME): links the runtime objects of FMU NAME into TARGET.
function(fmu_link_runtime TARGET NAME)
  target_sources(${TARGET} PRIVATE $<TARGET_OBJECTS:${NAME}_objects>)
  target_include_directories(${TARGET} PRIVATE $<TARGET_PROPERTY:${NAME}_objects,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(${TARGET} PRIVATE $<TARGET_PROPERTY:${NAME}_objects,INTERFACE_COMPILE_DEFINITIONS>)
  target_link_libraries(${TARGET} PRIVATE modelica matfile fmi_tpl fmu_platform ${FMU_EXTERNAL_LIBS} dl pthread)
endfunction()
