#version 120
// Per-pixel Phong: the fragments get the eye-space position and normal.
varying vec3 eyePosition;
varying vec3 eyeNormal;

void main()
{
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    eyeNormal = gl_NormalMatrix * gl_Normal;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = ftransform();
}
