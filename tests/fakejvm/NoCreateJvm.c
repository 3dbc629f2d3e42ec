/* A library that loads like a runtime but exports no JNI_CreateJavaVM. */
int corvane_fake_jvm_without_create_function(void);

int corvane_fake_jvm_without_create_function(void) {
    return 0;
}
