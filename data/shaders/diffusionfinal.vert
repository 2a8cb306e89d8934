#version 120
// The head in the window, with what the final combination needs per pixel.
varying vec3 eyePosition;
varying vec3 eyeNormal;

void main()
{
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    eyeNormal = gl_NormalMatrix * gl_Normal;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = ftransform();
}
