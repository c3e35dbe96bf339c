# Sourced by the scripts. Chromium inside the browser views refuses to run as root with
# its sandbox on; only then is it switched off. Without a GPU, software rendering is
# quieter and as fast.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
case " ${QTWEBENGINE_CHROMIUM_FLAGS:-} " in
  *" --disable-gpu "*) ;;
  *) export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --disable-gpu" ;;
esac
