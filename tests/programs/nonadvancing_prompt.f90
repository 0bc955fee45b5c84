! Non-advancing output builds one record from several statements.
program nonadvancing_prompt
  implicit none
  integer :: i
  do i = 1, 5
    write (*, '(i2)', advance='no') i
  end do
  write (*, '(a)') ' done'
  write (*, '(a)', advance='no') 'x='
  write (*, '(f5.2)') 1.5
end program nonadvancing_prompt
