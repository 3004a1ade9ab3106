# Appends SIZE bytes of text naming TAG to FILE, behind the image, as installers carry their data.
# cmake -DFILE=path -DTAG=text -DSIZE=n -P append_overlay.cmake
string(REPEAT "probe overlay ${TAG}|" 1000 overlay)
string(SUBSTRING "${overlay}" 0 ${SIZE} overlay)
string(LENGTH "${overlay}" length)
if(NOT length EQUAL SIZE)
  message(FATAL_ERROR "overlay of ${SIZE} bytes asked, ${length} made")
endif()
file(APPEND "${FILE}" "${overlay}")
