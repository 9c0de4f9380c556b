# ce_install_text(SOURCE file NAME name DESTINATION dir): installs `file` as dir/name, with these
# words replaced, in the file and in `dir`:
#   @VERSION@, @DATE@    the release (release.cmake)
#   @BINDIR@, @HELPERDIR@, @DOCDIR@
#                        where cedevice, its helpers and the documentation are installed
#   @USERUNITDIR@        where systemd's user instance looks for units of this prefix
#   @ZSHCOMPDIR@         where zsh looks for completion functions
# The paths are absolute and known only when installing (cmake --install --prefix), so the
# words are replaced then. The package's tools (dh_installman, dh_compress) compress what they
# install; an installation into a prefix leaves the files as they are, which man reads too.
set(CE_INSTALL_TEXT_STEP ${CMAKE_CURRENT_LIST_DIR}/install_text_step.cmake)

function(ce_install_text)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "SOURCE;NAME;DESTINATION" "")
  install(CODE "
    set(ce_text_source \"${arg_SOURCE}\")
    set(ce_text_name \"${arg_NAME}\")
    set(ce_text_destination \"${arg_DESTINATION}\")
    set(ce_text_VERSION \"${PROJECT_VERSION}\")
    set(ce_text_DATE \"${CE_RELEASE_DATE}\")
    set(ce_dir_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(ce_dir_HELPERDIR \"${CE_INSTALL_HELPERDIR}\")
    set(ce_dir_DOCDIR \"${CE_INSTALL_DOCDIR}\")
    set(ce_dir_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    include(\"${CE_INSTALL_TEXT_STEP}\")")
endfunction()
