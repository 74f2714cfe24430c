# Checks that the README shows each quick-start program exactly as it stands in examples/, so that
# every code sample of the README is one that the examples target compiles.
#   cmake -DSOURCE_DIR=<repository> -P check_readme.cmake
file(READ ${SOURCE_DIR}/README.md Readme)
foreach(example quick_start gp_quick_start)
  file(READ ${SOURCE_DIR}/examples/${example}.cpp Program)
  string(STRIP "${Program}" Program)
  string(FIND "${Readme}" "```cpp\n${Program}\n```" Found)
  if(Found EQUAL -1)
    message(FATAL_ERROR "README.md does not show examples/${example}.cpp as it stands; copy the "
                        "program into its code block again")
  endif()
endforeach()
file(READ ${SOURCE_DIR}/examples/python/quick_start.py Program)
string(STRIP "${Program}" Program)
string(FIND "${Readme}" "```python\n${Program}\n```" Found)
if(Found EQUAL -1)
  message(FATAL_ERROR "README.md does not show examples/python/quick_start.py as it stands; copy "
                      "the program into its code block again")
endif()
