/** An application that jlink links with portula into a runtime image. */
module com.orvanta.jlinkapp {
    requires com.orvanta.portula;
}
