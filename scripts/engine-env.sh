# Sourced by the scripts. Without a GPU, software rendering is quieter and as fast.
# (The program itself handles what running as root needs.)
case " ${QTWEBENGINE_CHROMIUM_FLAGS:-} " in
  *" --disable-gpu "*) ;;
  *) export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --disable-gpu" ;;
esac
