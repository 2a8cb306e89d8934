#version 120
// A full-target quad: its corners are given in clip space, whatever the matrices hold.
void main()
{
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = vec4(gl_Vertex.xy, 0.0, 1.0);
}
