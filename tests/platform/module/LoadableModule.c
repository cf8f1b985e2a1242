/* A module for the loader's tests: one entry to look up by name. */
__attribute__((visibility("default"))) int slv_loadable_module_entry(void) {
    return 42;
}
