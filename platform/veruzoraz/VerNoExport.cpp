// A build of the library that lacks sig_proc_ex, for the raw processor's tests of a broken installation.
extern "C" int ver_no_export_marker() {
    return 0;
}
