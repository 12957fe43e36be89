# The library folders, in dependency order. Each folder's CMakeLists.txt
# declares one target with an explicit source list.
add_subdirectory(platform)
add_subdirectory(codecs)
add_subdirectory(imageproc)
add_subdirectory(encoders)
ov_add_present_subdirectories(media engine ui screens)
add_subdirectory(filters)
add_subdirectory(shell)
