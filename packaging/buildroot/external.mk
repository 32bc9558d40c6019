include $(sort $(wildcard $(BR2_EXTERNAL_HORNSET_PATH)/package/*/*.mk))
