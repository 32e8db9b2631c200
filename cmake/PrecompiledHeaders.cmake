# One precompiled header for the libraries: the Qt, QCoro and standard headers that nearly every unit
# includes, compiled once (target quillvane-pch) and reused by every library whose units compile against
# Qt (src/ and standin-backend/).
#
# Programs (the tests above all) do without it. Loading the header costs a unit about 3 CPU-seconds on
# the CI machine, most of it page faults, and a test unit gains nothing from it: QtTest cannot be in a
# shared header (below), and <QtTest> reads the whole of QtCore anyway. Measured on this tree, library
# units got 15-25% cheaper with it, test units the same or dearer.
#
# GCC uses a precompiled header only in a unit whose macros agree with those it was built with, so the
# header is built with the definitions every Qt target has (QT_CORE_LIB, QT_NO_DEBUG, NDEBUG) and takes
# the include folders of the other Qt modules without their QT_<MODULE>_LIB definitions; the headers below
# do not look at those (QtTest does: QT_GUI_LIB, QT_WIDGETS_LIB, the per-folder QT_TESTCASE_BUILDDIR).
# _REENTRANT, which libpulse's and GLib's flags set for some targets only and glibc's <features.h> looks
# at, is set for the header and every target that reuses it: under g++, which defines _GNU_SOURCE, it
# changes nothing. A unit the header cannot serve reads the headers instead and the build warns
# (-Winvalid-pch): such a warning means a target's flags drifted from the header's.
#
# Units that include GLib headers (libsecret, gio) are left out: GLib uses `signals` as a name, which Qt
# defines as a macro, so those units include GLib before any Qt header.
#
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON builds without it (to check that every file includes what it uses).

set(quillvane_pch_headers
  # C++
  <algorithm> <chrono> <cmath> <functional> <map> <memory> <optional> <string> <utility> <vector>
  # Qt Core
  <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QJsonArray> <QJsonDocument>
  <QJsonObject> <QList> <QObject> <QPointer> <QProcess> <QRegularExpression> <QSet> <QString> <QStringList>
  <QTemporaryDir> <QTimer> <QUrl> <QUuid>
  # Qt Gui and Widgets
  <QGuiApplication> <QPainter> <QApplication> <QWidget> <QLabel> <QPushButton> <QVBoxLayout> <QHBoxLayout>
  # Qt Network
  <QTcpServer> <QTcpSocket>
  # QCoro
  <qcoro/qcorotask.h>)

file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/quillvane-pch.cpp CONTENT "// The unit that builds the precompiled header.\n")
add_library(quillvane-pch OBJECT ${PROJECT_BINARY_DIR}/quillvane-pch.cpp)
set_target_properties(quillvane-pch PROPERTIES AUTOMOC OFF AUTORCC OFF)
target_link_libraries(quillvane-pch PRIVATE Qt6::Core)
target_compile_definitions(quillvane-pch PRIVATE _REENTRANT)
foreach(module Qt6::Gui Qt6::Widgets Qt6::Network QCoro6::Core)
  target_include_directories(quillvane-pch SYSTEM PRIVATE $<TARGET_PROPERTY:${module},INTERFACE_INCLUDE_DIRECTORIES>)
endforeach()
target_precompile_headers(quillvane-pch PRIVATE ${quillvane_pch_headers})

# quillvane_sees_qt(<target> <out-var>): true when the units of <target> compile against Qt, that is when it
# links a Qt module directly or through the public interface of one of the project's libraries.
function(quillvane_sees_qt target out)
  get_target_property(type ${target} TYPE)
  set(items)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct ${target} LINK_LIBRARIES)
    if(direct)
      list(APPEND items ${direct})
    endif()
  endif()
  set(seen)
  while(items)
    list(POP_FRONT items item)
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    if(item MATCHES "^Qt6::")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    # Private dependencies of static libraries ($<LINK_ONLY:...>) bring no headers.
    if(TARGET ${item} AND NOT item MATCHES "^\\$<")
      get_target_property(imported ${item} IMPORTED)
      if(NOT imported)
        get_target_property(interface ${item} INTERFACE_LINK_LIBRARIES)
        if(interface)
          list(APPEND items ${interface})
        endif()
      endif()
    endif()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# quillvane_reuse_pch(<directory>): every Qt library defined in <directory> and below reuses the header.
function(quillvane_reuse_pch directory)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
       OR target STREQUAL "quillvane-pch")
      continue()
    endif()
    quillvane_sees_qt(${target} sees_qt)
    if(NOT sees_qt)
      continue()
    endif()
    target_precompile_headers(${target} REUSE_FROM quillvane-pch)
    target_compile_definitions(${target} PRIVATE _REENTRANT)
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source ${sources})
      if(source MATCHES "^\\$<" OR NOT source MATCHES "\\.(cpp|cc|cxx)$")
        continue()
      endif()
      if(NOT IS_ABSOLUTE ${source})
        set(source ${source_dir}/${source})
      endif()
      if(EXISTS ${source})
        file(STRINGS ${source} glib_includes REGEX "^[ \t]*#[ \t]*include[ \t]*<(libsecret|glib|gio)[/.-]")
        if(glib_includes)
          set_property(SOURCE ${source} TARGET_DIRECTORY ${target} PROPERTY SKIP_PRECOMPILE_HEADERS ON)
        endif()
      endif()
    endforeach()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory ${subdirectories})
    quillvane_reuse_pch(${subdirectory})
  endforeach()
endfunction()

quillvane_reuse_pch(${PROJECT_SOURCE_DIR})
