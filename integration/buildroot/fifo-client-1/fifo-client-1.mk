################################################################################
#
# fifo-client-1
#
################################################################################

# Point these at the repository and the tag you ship.
FIFO_CLIENT_1_VERSION = v1.0.0
FIFO_CLIENT_1_SITE = https://git.example.org/fifo_client_1.git
FIFO_CLIENT_1_SITE_METHOD = git
FIFO_CLIENT_1_LICENSE = MIT
FIFO_CLIENT_1_LICENSE_FILES = LICENSE

# Build-time settings, for a vendor to change:
# FIFO_CLIENT_1_CONF_OPTS += -DCONTROL_PIPE_PATH=/app/morvelin-service/sock/morvelin.fifo

# The wiring of each hotkey daemon the image has, installed where the daemon
# reads it: the examples go with /usr/share/doc, which the image loses.
ifeq ($(BR2_PACKAGE_TRIGGERHAPPY),y)
FIFO_CLIENT_1_HOTKEY_WIRING += triggerhappy
endif
ifeq ($(BR2_PACKAGE_ACPID),y)
FIFO_CLIENT_1_HOTKEY_WIRING += acpid
endif
ifeq ($(BR2_PACKAGE_FIFO_CLIENT_1_BUSYBOX_ACPID),y)
FIFO_CLIENT_1_HOTKEY_WIRING += busybox-acpid
endif
FIFO_CLIENT_1_CONF_OPTS += \
	-DFIFO_CLIENT_HOTKEY_WIRING="$(subst $(space),;,$(strip $(FIFO_CLIENT_1_HOTKEY_WIRING)))"

ifeq ($(BR2_PACKAGE_FIFO_CLIENT_1_KEY_USER),y)
define FIFO_CLIENT_1_USERS
	morvelin-keys -1 morvelin-keys -1 * - - morvelin keys of the music service
endef
ifeq ($(BR2_PACKAGE_TRIGGERHAPPY),y)
define FIFO_CLIENT_1_INSTALL_INIT_SYSV
	$(INSTALL) -D -m 0644 $(FIFO_CLIENT_1_PKGDIR)/triggerhappy.default \
		$(TARGET_DIR)/etc/default/triggerhappy
endef
endif
endif

$(eval $(cmake-package))
