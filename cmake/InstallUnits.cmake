# Run by cmake_install.cmake: installs the systemd units with ExecStart
# pointing at the binary under the prefix being installed to.
# Expects VQ_UNIT_SOURCES, VQ_UNIT_STAGE and VQ_BINDIR.
set(vq_bin "${CMAKE_INSTALL_PREFIX}/${VQ_BINDIR}/vqsrv")
foreach(vq_unit IN LISTS VQ_UNIT_SOURCES)
  get_filename_component(vq_name "${vq_unit}" NAME)
  file(READ "${vq_unit}" vq_text)
  string(REPLACE " /usr/bin/vqsrv" " ${vq_bin}" vq_text "${vq_text}")
  string(REPLACE "=/usr/bin/vqsrv" "=${vq_bin}" vq_text "${vq_text}")
  file(MAKE_DIRECTORY "${VQ_UNIT_STAGE}")
  file(WRITE "${VQ_UNIT_STAGE}/${vq_name}.tmp" "${vq_text}")
  file(RENAME "${VQ_UNIT_STAGE}/${vq_name}.tmp" "${VQ_UNIT_STAGE}/${vq_name}")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES "${VQ_UNIT_STAGE}/${vq_name}")
endforeach()
