# What the tests' build needs: a test group left out, said in one line, where a tool is missing,
# and this project built again in a tree of its own.

# Each group of tests runs only where what it needs is found; a group left out says so once, in
# one line. SORVEL_TEST_ALL (the dev preset, which CI runs) turns every such line into an error.
option(SORVEL_TEST_ALL "Fail where a test cannot be built for want of a tool" OFF)
# Whether `found` holds; if not, reports that `what` is left out for want of `need`.
function(sorvel_test_need found what need)
  if(NOT ${found})
    if(SORVEL_TEST_ALL)
      message(FATAL_ERROR "${what}: ${need} not found")
    endif()
    message(WARNING "${what} left out: ${need} not found")
  endif()
endfunction()

# Builds this project again in build tree `dir` with the cache settings that follow: configured
# once (again when the settings change), then built on every build of this tree, which costs
# next to nothing when the tree is up to date. The trees build side by side and beside this one,
# within this build's jobs: under make each tree's make draws on this one's job server (a recipe
# that names $(MAKE) is given it); ninja has none to share, so each tree builds one job at a time.
function(sorvel_add_subbuild name dir)
  set(args -DBUILD_TESTING=OFF ${ARGN})
  file(CONFIGURE OUTPUT ${dir}.args CONTENT "${args}")
  add_custom_command(OUTPUT ${dir}/CMakeCache.txt
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${dir} -G ${CMAKE_GENERATOR} ${args}
    DEPENDS ${dir}.args
    COMMENT "Configuring the tree ${dir}")
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(build $(MAKE) -C ${dir} --no-print-directory)
  else()
    set(build ${CMAKE_COMMAND} --build ${dir} --parallel 1)
  endif()
  add_custom_target(${name} ALL
    COMMAND ${build}
    DEPENDS ${dir}/CMakeCache.txt
    COMMENT "Building the tree ${dir}")
endfunction()

# Adds test `name`, labelled `labels` (quick, fuzz, windows, web, package), running the command
# that follows.
function(sorvel_test name labels)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}")
endfunction()

# find_program(`var` ...) for `what`, said in one line when it is missing, as `need`.
macro(sorvel_find_program var what need)
  find_program(${var} ${ARGN})
  sorvel_test_need(${var} "${what}" "${need}")
endmacro()
