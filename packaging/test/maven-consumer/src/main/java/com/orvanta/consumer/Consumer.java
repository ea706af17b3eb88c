package com.orvanta.consumer;

import com.orvanta.jni.HIDClassConnector;

public final class Consumer {
    private Consumer() {
    }

    public static void main(String[] args) throws Exception {
        long handle = HIDClassConnector._hid_init();
        try {
            System.out.println("consumer enumerated " + HIDClassConnector._enumerateDevices(handle, 0, 0).length);
        } finally {
            HIDClassConnector._free(handle);
        }
    }
}
