SUMMARY = "Control client of the morvelin music service"
DESCRIPTION = "fifo_client_1 tells morvelin-service to resume or stop playing music \
by writing a one-byte command into the service's control pipe."
SECTION = "multimedia"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=76415b5dd7e8f0e2e11e535458d491ff"

# Point these at the repository and the commit you ship. A fixed revision
# keeps parsing offline and every build the same.
FIFO_CLIENT_1_GIT_URI ?= "git://git.example.org/fifo_client_1.git;protocol=https;branch=main"
SRC_URI = "${FIFO_CLIENT_1_GIT_URI}"
SRCREV = "1e60741287338ecdf1a0896c664a4e480cfde453"
PV = "1.0.0+git"
# Where the git fetcher unpacks: ${WORKDIR}/git up to Yocto 5.2; from 6.0
# under UNPACKDIR, in the folder BB_GIT_DEFAULT_DESTSUFFIX names.
S = "${@d.getVar('UNPACKDIR') + '/' + d.getVar('BB_GIT_DEFAULT_DESTSUFFIX') if d.getVar('BB_GIT_DEFAULT_DESTSUFFIX') else d.getVar('WORKDIR') + '/git'}"

# The cmake class builds with the SDK's flags and hardening; the project
# adds only what those leave open, and builds no tests unless asked. The
# completion goes into ${PN}-bash-completion.
inherit cmake bash-completion

# Build-time settings, for a vendor to change:
# EXTRA_OECMAKE += "-DCONTROL_PIPE_PATH=/app/morvelin-service/sock/morvelin.fifo -DCONTROL_PIPE_TIMEOUT_MS=2000"

# The wiring of every hotkey daemon, into /etc (${sysconfdir}), each in a
# package of its own that depends on its daemon: an image installs the one
# for the daemon it has. The key script that the acpids' wiring runs is a
# shell script, so it too is a package of its own.
EXTRA_OECMAKE += "'-DFIFO_CLIENT_HOTKEY_WIRING=triggerhappy;acpid;busybox-acpid'"
PACKAGES =+ "${PN}-key ${PN}-triggerhappy ${PN}-acpid ${PN}-busybox-acpid"
FILES:${PN}-key = "${libexecdir}/fifo-client-1"
RDEPENDS:${PN}-key = "${PN} ${VIRTUAL-RUNTIME_base-utils}"
FILES:${PN}-triggerhappy = "${sysconfdir}/triggerhappy/triggers.d/fifo_client_1.conf"
# triggerhappy comes from meta-oe: without that layer, a dependency on it
# would leave the whole recipe unbuildable.
RDEPENDS:${PN}-triggerhappy = "${PN} ${@bb.utils.contains('BBFILE_COLLECTIONS', 'openembedded-layer', 'triggerhappy', '', d)}"
FILES:${PN}-acpid = "${sysconfdir}/acpi/events/fifo_client_1-play-pause ${sysconfdir}/acpi/events/fifo_client_1-stop"
RDEPENDS:${PN}-acpid = "${PN}-key acpid"
# BusyBox's acpid applet must be in the image's BusyBox (CONFIG_ACPID).
FILES:${PN}-busybox-acpid = "${sysconfdir}/acpi.map ${sysconfdir}/acpid.conf ${sysconfdir}/acpi/fifo_client_1"
RDEPENDS:${PN}-busybox-acpid = "${PN}-key busybox"
