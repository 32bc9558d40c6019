################################################################################
#
# hornset
#
################################################################################

# Built from the checkout this external tree lives in, at the version its
# CMakeLists.txt gives in project().
HORNSET_SITE = $(BR2_EXTERNAL_HORNSET_PATH)/../..
HORNSET_VERSION = $(shell sed -n 's/^ *VERSION \([0-9][0-9.]*\)$$/\1/p' $(HORNSET_SITE)/CMakeLists.txt)
HORNSET_SITE_METHOD = local
HORNSET_LICENSE = PROPRIETARY
HORNSET_LICENSE_FILES = packaging/copyright
HORNSET_REDISTRIBUTE = NO
# The checkout's own build trees are not part of the source.
HORNSET_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude=/build

# The tool alone: no tests, no emulated board. Hardening is what the
# toolchain wrapper adds (BR2_SSP_*, BR2_FORTIFY_SOURCE_*, BR2_RELRO_*,
# BR2_PIC_PIE), so hornset's own is turned off.
HORNSET_CONF_OPTS = \
	-DHORNSET_BUILD_TESTS=OFF \
	-DHORNSET_BUILD_EMULATOR=OFF \
	-DHORNSET_HARDENING=OFF

# The system group that the udev rule, or the mdev.conf line README gives,
# hands /dev/hornio to.
define HORNSET_USERS
	- - buzzer -1 * - - - hornset buzzer users
endef

# With udev the rule goes where udev reads packages' rules, active; without,
# it stays the file to place that cmake --install installs.
ifeq ($(BR2_PACKAGE_HAS_UDEV),y)
define HORNSET_INSTALL_UDEV_RULE
	$(INSTALL) -D -m 0644 $(@D)/packaging/60-hornset.rules \
		$(TARGET_DIR)/lib/udev/rules.d/60-hornset.rules
	rm -rf $(TARGET_DIR)/usr/share/hornset
endef
HORNSET_POST_INSTALL_TARGET_HOOKS += HORNSET_INSTALL_UDEV_RULE
endif

$(eval $(cmake-package))
