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
# FIFO_CLIENT_1_CONF_OPTS = -DCONTROL_PIPE_PATH=/app/morvelin-service/sock/morvelin.fifo

$(eval $(cmake-package))
